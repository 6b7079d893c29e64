#include "solver/SequenceAttempt.h"

#include "solver/SolveStrategies.h"

namespace siderama {

int SequenceAttempt::downsampling(int width, int height) {
    int factor = 2;
    while (factor < 8 && double(width / factor) * (height / factor) > 1e6) factor *= 2;
    return factor;
}

std::optional<SolveAttempt> SequenceAttempt::make(const SolveStrategies& strategies, const SolveHint& hint,
                                                  int width, int height) {
    if (!hint.scale || !hint.ra || !hint.dec || width <= 0 || height <= 0) return std::nullopt;
    SolveAttempt attempt = strategies.hinted(hint, width, height);
    if (attempt.steps.empty() || attempt.steps.front().tool != "image2xy") return std::nullopt;
    attempt.name = "sequence (hinted, image downsampled by " + QString::number(downsampling(width, height)) + ")";
    attempt.budget = budget;
    attempt.steps.front().arguments.prepend(QString::number(downsampling(width, height)));
    attempt.steps.front().arguments.prepend("-d");
    return attempt;
}

}  // namespace siderama
