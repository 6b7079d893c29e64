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
#include <QFileInfo>

namespace siderama {

bool SolvePipeline::run(const QString& path) {
    const SolvePaths paths(path);
    QElapsedTimer clock;
    clock.start();
    if (paths.needsConversion && !convert(paths)) return false;
    bool solved = false;
    try {
        runTools(paths);
        solver.done("\nDone in " + formatSeconds(clock.elapsed() / 1000.0) + " seconds");
        solved = true;
    } catch (const ToolError&) {
        // The runner has reported the failure already.
    }
    cleanUp(paths);
    return solved;
}

bool SolvePipeline::convert(const SolvePaths& paths) {
    solver.busy("\nConverting " + paths.input + " to " + paths.fits + "...");
    if (Convert(paths.input, paths.fits)) return true;
    solver.failed("\nFailed to convert " + paths.input + " to FITS");
    return false;
}

QStringList SolvePipeline::solveFieldArguments(const SolvePaths& paths) {
    QStringList fixed{"--overwrite"};
    if (solveFieldSupports(toolsDirectory() + "/solve-field", "--no-fits2fits"))
        fixed << "--no-fits2fits";
    fixed << "--no-plots" << "--no-remove-lines" << "--no-verify-uniformize" << "--sort-column"
          << "FLUX" << "--uniformize" << "0" << "--config" << CONFIG() << paths.xyList;
    return SolverDelegate::addArgs(Defaults::solveFieldArgs, fixed);
}

void SolvePipeline::runTools(const SolvePaths& paths) {
    solver.execute("image2xy", {"-O", "-o", paths.xyList, paths.fits}, false);
    solver.execute("solve-field", solveFieldArguments(paths), false);
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
