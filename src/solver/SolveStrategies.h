#pragma once

#include "solver/SolveAttempt.h"
#include "solver/SolveHint.h"
#include "solver/SolvePaths.h"

#include <optional>
#include <vector>

namespace siderama {

struct WcsSummary;

// The attempts Siderama makes on one image and how they are laid out in
// lanes. The pipeline (full-resolution image2xy list sorted by flux) is the
// first strategy and the one whose tools are shown in the log; "fast xy"
// (image2xy on the image downsampled by 2, the 150 brightest sources),
// solve-field's own defaults (downsampled for large images) and "wide" (the
// pipeline's list, widths from 20°) back it up. Measured on generated fields
// and photo-like ones: see the README's strategy table.
class SolveStrategies {
public:
    struct Setup {
        QString workDir;         // files of the attempts other than the pipeline
        QString config;          // the solver configuration
        QString parallelConfig;  // the same with `inparallel`
        QStringList userWords;   // the stored solve-field-args, always first
        bool noFits2Fits;        // an older solve-field that still converts
    };
    SolveStrategies(const SolvePaths& paths, Setup setup) : paths(paths), setup(std::move(setup)) {}

    SolveAttempt hinted(const SolveHint& hint, int width, int height) const;
    SolveAttempt pipeline(bool extract) const;
    SolveAttempt wide() const;
    // With a window, the hint's scale (and position) instead of 1°–180°.
    SolveAttempt fastXy(const std::optional<SolveHint>& window = std::nullopt) const;
    SolveAttempt defaults(int downsample) const;
    // A careful re-solve around a found solution: narrow window, centred
    // reference pixel, a higher SIP order.
    SolveAttempt secondLook(const WcsSummary& found, const QString& source) const;

    // With racing, three staggered lanes: (hinted) fast xy falling back to
    // the defaults; the (hinted) pipeline; the wide search. Without: hinted
    // fast xy, hinted pipeline, pipeline, wide, fast xy, defaults in turn,
    // with budgets.
    std::vector<std::vector<SolveAttempt>> lanes(const std::optional<SolveHint>& hint, int width, int height,
                                                 int downsample, bool racing) const;

    // Budgets of the attempts when they run one after another (seconds).
    static constexpr double hintedBudget = 10;
    static constexpr double pipelineBudget = 10;
    static constexpr double fastXyBudget = 30;
    static constexpr double wideBudget = 20;
    static constexpr double wideLow = 20;  // degrees, the narrowest width of the wide search

private:
    static SolveHint window(const SolveHint& hint, int width, int height);  // the position's radius set
    SolveAttempt::Step extraction() const;  // full resolution, shared by the attempts that read it
    QStringList solveFieldWords(const QString& xyList, const QString& config) const;

    SolvePaths paths;
    Setup setup;
};

}  // namespace siderama
