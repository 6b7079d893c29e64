#include "solver/SolvePipeline.h"

#include "core/Constants.h"
#include "core/Defaults.h"
#include "core/Workspace.h"
#include "imaging/Convert.h"
#include "solver/SolveFieldOptions.h"
#include "solver/SolvePaths.h"
#include "solver/SolveReporter.h"
#include "solver/SolveResult.h"
#include "solver/ToolError.h"
#include "solver/ToolRunner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace siderama {

SolveOutcome SolvePipeline::run(const QString& path) {
    const SolvePaths paths(path);
    QElapsedTimer clock;
    clock.start();
    // Asking solve-field for its options takes a moment: do it meanwhile.
    std::future<bool> knowsNoFits2Fits = std::async(std::launch::async, [] {
        return solveFieldSupports(toolsDirectory() + "/solve-field", "--no-fits2fits");
    });
    SolveOutcome outcome;
    try {
        outcome = solve(paths, knowsNoFits2Fits);
    } catch (const std::exception& error) {
        outcome = {false, QString::fromStdString(error.what()), {}};
    }
    outcome.result = collect(paths, outcome, clock);
    cleanUp(paths);
    return outcome;
}

std::shared_ptr<const SolveResult> SolvePipeline::collect(const SolvePaths& paths, const SolveOutcome& outcome,
                                                          const QElapsedTimer& clock) {
    auto result = std::make_shared<SolveResult>(SolveResult::collect(paths, outcome.solved));
    // After a failure its red line stays the last word.
    if (outcome.solved)
        for (const QString& problem : result->problems) reporter.append(problem, YELLOW);
    result->message = outcome.message.trimmed();
    result->seconds = clock.elapsed() / 1000.0;
    return result;
}

SolveOutcome SolvePipeline::solve(const SolvePaths& paths, std::future<bool>& knowsNoFits2Fits) {
    QElapsedTimer clock;
    clock.start();
    if (paths.needsConversion) {
        reporter.busy("\nConverting " + paths.input + " to " + paths.fits + "...");
        if (!Convert(paths.input, paths.fits)) return {false, "\nFailed to convert " + paths.input + " to FITS", {}};
    }
    runTools(paths, knowsNoFits2Fits);
    return {true, "\nDone in " + formatSeconds(clock.elapsed() / 1000.0) + " seconds", {}};
}

QStringList SolvePipeline::solveFieldArguments(const SolvePaths& paths, bool noFits2Fits) {
    QStringList fixed{"--overwrite"};
    if (noFits2Fits) fixed << "--no-fits2fits";
    fixed << "--no-plots" << "--no-remove-lines" << "--no-verify-uniformize" << "--sort-column"
          << "FLUX" << "--uniformize" << "0" << "--config" << CONFIG() << paths.xyList;
    return Defaults::words(Defaults::solveFieldArgs) + fixed;
}

void SolvePipeline::runTools(const SolvePaths& paths, std::future<bool>& knowsNoFits2Fits) {
    tools.execute("image2xy", {"-O", "-o", paths.xyList, paths.fits}, false);
    // A solution left by an earlier solve of the same file must not pass
    // for this one.
    QFile::remove(paths.base + ".solved");
    QFile::remove(paths.wcs);
    tools.execute("solve-field", solveFieldArguments(paths, knowsNoFits2Fits.get()), false);
    requireSolution(paths);
    tools.execute("new-wcs", {"-v", "-d", "-i", paths.fits, "-o", paths.wcsImage, "-w", paths.wcs}, false);
    reporter.resetCalibration();
    tools.execute("wcsinfo", {paths.wcs}, true);
}

// solve-field exits with 0 also when it found no solution.
void SolvePipeline::requireSolution(const SolvePaths& paths) {
    if (QFileInfo::exists(paths.base + ".solved") && QFileInfo::exists(paths.wcs)) return;
    throw ToolError(ToolError::Domain::failed, "solve-field found no solution");
}

void SolvePipeline::cleanUp(const SolvePaths& paths) {
    if (!removeFiles) return;
    Workspace::moveToTrash(paths.intermediateFiles());
    if (paths.needsConversion) Workspace::moveToTrash(paths.fits);
}

}  // namespace siderama
