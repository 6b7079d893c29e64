#include "solver/SolvePipeline.h"

#include "core/Constants.h"
#include "core/Defaults.h"
#include "core/Workspace.h"
#include "imaging/Convert.h"
#include "imaging/FitsPath.h"
#include "imaging/WcsHeaderWriter.h"
#include "solver/SolvePaths.h"
#include "solver/SolveReporter.h"
#include "solver/SolveResult.h"
#include "solver/ToolError.h"
#include "solver/ToolRunner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <optional>

namespace siderama {

SolvePipeline::SolvePipeline(ToolRunner& tools, SolveReporter& reporter, bool removeFiles, SolveOptions options)
    : tools(tools), reporter(reporter), removeFiles(removeFiles), options(std::move(options)),
      portfolio([&reporter](const QString& text, LogColor color) {
          // Progress (yellow) is also the solve's state message.
          if (color == YELLOW) reporter.busy(text);
          else reporter.append(text, color);
      }) {}

SolveOutcome SolvePipeline::run(const QString& path) {
    std::optional<QTemporaryDir> scratch;
    // Hidden, so a watch of the temporary folder itself never takes it for frames.
    if (options.scratchFiles) scratch.emplace(QDir::tempPath() + "/.siderama-frame-XXXXXX");
    if (scratch && !scratch->isValid())
        return {false, "\nCannot make a work folder in " + QDir::tempPath() + ": " + scratch->errorString(), {}};
    const SolvePaths paths = scratch ? SolvePaths(path, scratch->path()) : SolvePaths(path);
    QElapsedTimer clock;
    clock.start();
    SolveOutcome outcome;
    try {
        outcome = solve(paths);
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

SolveOutcome SolvePipeline::solve(const SolvePaths& paths) {
    QElapsedTimer clock;
    clock.start();
    const auto deadline = SolvePortfolio::Clock::now() + std::chrono::seconds(options.timeLimit);
    if (paths.needsConversion) {
        reporter.busy("\nConverting " + paths.input + " to " + paths.fits + "...");
        const qint64 megapixels = Defaults::integerValue(Defaults::maxImageMegapixels, defaultMaxPixels() / 1'000'000);
        QString reason;
        if (!Convert(paths.input, paths.fits, megapixels * 1'000'000, &reason))
            return {false, "\nFailed to convert " + paths.input + " to FITS: " + reason, {}};
    }
    runTools(paths, deadline);
    return {true, "\nDone in " + formatSeconds(clock.elapsed() / 1000.0) + " seconds", {}};
}

// The portfolio leaves the winning solution and its matched stars at the
// pipeline's paths.
void SolvePipeline::runTools(const SolvePaths& paths, SolvePortfolio::Clock::time_point deadline) {
    const QString failure = portfolio.solve(paths, options, deadline);
    if (!failure.isEmpty())
        throw ToolError(failure.endsWith(" aborted") ? ToolError::Domain::aborted : ToolError::Domain::failed, failure);
    if (!options.scratchFiles) writeWcsImage(paths);
    if (options.writeWcsHeaders && isFitsPath(paths.input)) writeHeader(paths);
    reporter.resetCalibration();
    tools.execute("wcsinfo", {paths.wcs}, true);
}

// The result appears under its name only when whole.
void SolvePipeline::writeWcsImage(const SolvePaths& paths) {
    const QString partial = paths.base + "_wcs.partial.fits";
    try {
        tools.execute("new-wcs", {"-v", "-d", "-i", paths.fits, "-o", partial, "-w", paths.wcs}, false);
    } catch (const ToolError&) {
        QFile::remove(partial);
        const QStorageInfo volume(QFileInfo(partial).absolutePath());
        if (volume.isValid() && volume.bytesAvailable() < QFileInfo(paths.fits).size())
            throw ToolError(ToolError::Domain::failed, "new-wcs failed: disk full in " + volume.rootPath());
        throw;
    }
    QFile::remove(paths.wcsImage);
    if (QFile::rename(partial, paths.wcsImage)) return;
    QFile::remove(partial);
    throw ToolError(ToolError::Domain::failed, "Cannot write " + paths.wcsImage);
}

// A header that cannot be written leaves the file alone; the solve still
// counts.
void SolvePipeline::writeHeader(const SolvePaths& paths) {
    const QString problem = WcsHeaderWriter::write(paths.input, paths.wcs);
    if (problem.isEmpty()) reporter.append("WCS written into " + paths.input, GREEN);
    else reporter.append(problem, RED);
}

// Scratch files are deleted with their folder, not kept in the Trash.
void SolvePipeline::cleanUp(const SolvePaths& paths) {
    if (!removeFiles || options.scratchFiles) return;
    Workspace::moveToTrash(paths.intermediateFiles());
    if (paths.needsConversion) Workspace::moveToTrash(paths.fits);
}

}  // namespace siderama
