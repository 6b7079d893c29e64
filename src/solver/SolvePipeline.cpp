#include "solver/SolvePipeline.h"

#include "app/core/Constants.h"
#include "app/core/Defaults.h"
#include "app/core/Workspace.h"
#include "imaging/Convert.h"
#include "solver/SolveFieldOptions.h"
#include "solver/SolvePaths.h"
#include "solver/SolverDelegate.h"
#include "solver/ToolError.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <future>

namespace siderama {

std::optional<QString> SolvePipeline::run(const QString& path) {
    const SolvePaths paths(path);
    QElapsedTimer clock;
    clock.start();
    // Asking solve-field for its options takes a moment: do it meanwhile.
    std::future<bool> knowsNoFits2Fits = std::async(std::launch::async, [] {
        return solveFieldSupports(toolsDirectory() + "/solve-field", "--no-fits2fits");
    });
    collected = SolveResult{};
    collected.input = path;
    if (paths.needsConversion && !convert(paths)) return finish(clock, std::nullopt);
    std::optional<QString> doneMessage;
    try {
        runTools(paths, knowsNoFits2Fits);
        doneMessage = "\nDone in " + formatSeconds(clock.elapsed() / 1000.0) + " seconds";
    } catch (const ToolError&) {
        // The runner has reported the failure already.
    }
    // What the result view needs is read before the files go.
    collected = SolveResult::collect(paths, doneMessage.has_value());
    // After a failure the red line stays the last word.
    if (doneMessage)
        for (const QString& problem : collected.problems) solver.append(problem, YELLOW);
    cleanUp(paths);
    return finish(clock, doneMessage);
}

std::optional<QString> SolvePipeline::finish(const QElapsedTimer& clock, const std::optional<QString>& doneMessage) {
    collected.seconds = clock.elapsed() / 1000.0;
    collected.message = doneMessage ? doneMessage->trimmed() : solver.state().message;
    return doneMessage;
}

bool SolvePipeline::convert(const SolvePaths& paths) {
    solver.busy("\nConverting " + paths.input + " to " + paths.fits + "...");
    if (Convert(paths.input, paths.fits)) return true;
    solver.failed("\nFailed to convert " + paths.input + " to FITS");
    return false;
}

QStringList SolvePipeline::solveFieldArguments(const SolvePaths& paths, bool noFits2Fits) {
    QStringList fixed{"--overwrite"};
    if (noFits2Fits) fixed << "--no-fits2fits";
    fixed << "--no-plots" << "--no-remove-lines" << "--no-verify-uniformize" << "--sort-column"
          << "FLUX" << "--uniformize" << "0" << "--config" << CONFIG() << paths.xyList;
    return SolverDelegate::addArgs(Defaults::solveFieldArgs, fixed);
}

void SolvePipeline::runTools(const SolvePaths& paths, std::future<bool>& knowsNoFits2Fits) {
    solver.execute("image2xy", {"-O", "-o", paths.xyList, paths.fits}, false);
    // A solution left by an earlier solve of the same file must not pass
    // for this one.
    QFile::remove(paths.base + ".solved");
    QFile::remove(paths.wcs);
    solver.execute("solve-field", solveFieldArguments(paths, knowsNoFits2Fits.get()), false);
    requireSolution(paths);
    solver.execute("new-wcs", {"-v", "-d", "-i", paths.fits, "-o", paths.wcsImage, "-w", paths.wcs},
                   false);
    solver.resetCalibration();
    solver.execute("wcsinfo", {paths.wcs}, true);
}

// solve-field exits with 0 also when it found no solution.
void SolvePipeline::requireSolution(const SolvePaths& paths) {
    if (QFileInfo::exists(paths.base + ".solved") && QFileInfo::exists(paths.wcs)) return;
    const QString message = "solve-field found no solution";
    solver.failed(message);
    throw ToolError(ToolError::Domain::failed, message);
}

void SolvePipeline::cleanUp(const SolvePaths& paths) {
    if (!solver.removeFilesEnabled()) return;
    Workspace::moveToTrash(paths.intermediateFiles());
    if (paths.needsConversion) Workspace::moveToTrash(paths.fits);
}

}  // namespace siderama
