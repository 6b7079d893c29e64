#pragma once

#include "solver/SolveAttempt.h"
#include "solver/SolveHint.h"

#include <optional>

namespace siderama {

class SolveStrategies;

// The first try on a frame whose scale and position are known, as for the
// frames of a night's sequence after the first: the hinted pipeline on
// stars found in the image downsampled to about a megapixel. With the scale
// window and the position, a few hundred stars are plenty, and finding them
// at full resolution is most of a hinted solve's time (6.6 s against 1.0 s
// on a 4144 × 2822 frame). A short budget; the blind strategies follow
// when it fails.
class SequenceAttempt {
public:
    static std::optional<SolveAttempt> make(const SolveStrategies& strategies, const SolveHint& hint, int width,
                                            int height);
    // 2, 4 or 8: the smallest that brings the image to a megapixel or less.
    static int downsampling(int width, int height);

    static constexpr double budget = 5;  // seconds
};

}  // namespace siderama
