#include "solver/SolvePipeline.h"

#include "app/core/Constants.h"
#include "app/core/Defaults.h"
#include "app/core/Workspace.h"
#include "imaging/Convert.h"
#include "solver/SolvePaths.h"
#include "solver/SolverDelegate.h"
#include "solver/ToolError.h"

#include <QElapsedTimer>

namespace siderama {

SolvePipeline::SolvePipeline(SolverDelegate& solver, SolveOptions options)
    : solver(solver), options(std::move(options)),
      portfolio([&solver](const QString& text, LogColor color) { solver.append(text, color); }) {}

std::optional<QString> SolvePipeline::run(const QString& path) {
    const SolvePaths paths(path);
    QElapsedTimer clock;
    clock.start();
    const auto deadline = SolvePortfolio::Clock::now() + std::chrono::seconds(options.timeLimit);
    if (paths.needsConversion && !convert(paths)) return std::nullopt;
    std::optional<QString> doneMessage;
    try {
        runTools(paths, deadline);
        doneMessage = "\nDone in " + formatSeconds(clock.elapsed() / 1000.0) + " seconds";
    } catch (const ToolError&) {
        // The runner has reported the failure already.
    }
    cleanUp(paths);
    return doneMessage;
}

bool SolvePipeline::convert(const SolvePaths& paths) {
    solver.busy("\nConverting " + paths.input + " to " + paths.fits + "...");
    if (Convert(paths.input, paths.fits)) return true;
    solver.failed("\nFailed to convert " + paths.input + " to FITS");
    return false;
}

void SolvePipeline::runTools(const SolvePaths& paths, SolvePortfolio::Clock::time_point deadline) {
    solver.busy();
    const QString failure = portfolio.solve(paths, options, deadline);
    if (!failure.isEmpty()) {
        solver.failed(failure);
        throw ToolError(failure.endsWith(" aborted") ? ToolError::Domain::aborted : ToolError::Domain::failed, failure);
    }
    solver.execute("new-wcs", {"-v", "-d", "-i", paths.fits, "-o", paths.wcsImage, "-w", paths.wcs},
                   false);
    solver.resetCalibration();
    solver.execute("wcsinfo", {paths.wcs}, true);
}

void SolvePipeline::cleanUp(const SolvePaths& paths) {
    if (!solver.removeFilesEnabled()) return;
    Workspace::moveToTrash(paths.intermediateFiles());
    if (paths.needsConversion) Workspace::moveToTrash(paths.fits);
}

}  // namespace siderama
