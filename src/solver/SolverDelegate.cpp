#include "solver/SolverDelegate.h"

#include "core/Defaults.h"
#include "solver/SolvePipeline.h"
#include "solver/ToolError.h"

namespace siderama {

SolverDelegate::SolverDelegate(QObject* parent)
    : QObject(parent),
      log([this] {
          if (view) view->logUpdated();
      }),
      thread([this](SolveRequest request) { runSolve(std::move(request)); }) {}

SolverDelegate::~SolverDelegate() { abort(); }

void SolverDelegate::setView(SolverView* newView) { view = newView; }

void SolverDelegate::append(const QString& text, LogColor color) {
    log.post([this, text, color] {
        if (view) view->appendLog(text, color);
    });
}

void SolverDelegate::setQueueLength(int length) {
    log.post([this, length] {
        if (view) view->setQueueLength(length);
    });
}

void SolverDelegate::postControls(bool solveEnabled) {
    log.post([this, solveEnabled] {
        if (view) view->setControls(solveEnabled, !solveEnabled);
    });
}

void SolverDelegate::setStatus(SolverStatus status, const std::optional<QString>& message, LogColor color) {
    store.setStatus(status, message);
    if (message) append(*message, color);
    postControls(status != SolverStatus::busy);
}

void SolverDelegate::busy(const std::optional<QString>& message) { setStatus(SolverStatus::busy, message, YELLOW); }
void SolverDelegate::done(const std::optional<QString>& message) { setStatus(SolverStatus::done, message, GREEN); }
void SolverDelegate::failed(const std::optional<QString>& message) { setStatus(SolverStatus::failed, message, RED); }

QStringList SolverDelegate::addArgs(const QString& key, const QStringList& arguments) {
    return Defaults::words(key) + arguments;
}

void SolverDelegate::execute(const QString& tool, const QStringList& arguments, bool parse) {
    try {
        runner.execute(tool, arguments, parse);
    } catch (const ToolError& error) {
        failed(QString::fromStdString(error.what()));
        throw;
    }
}

void SolverDelegate::solve(SolveReservation reservation, const QString& path, const SolveOptions& options) {
    runner.rearm();
    busy();
    thread.request({std::move(reservation), path, options});
}

bool SolverDelegate::solvePath(const QString& path, const SolveOptions& options) {
    SolveReservation reservation = claim();
    if (!reservation) {
        append("Solver busy", RED);
        return false;
    }
    solve(std::move(reservation), path, options);
    return true;
}

// abort() reaches `solve` until the returned handle is dropped; an abort
// that came before the pipeline existed still counts.
std::shared_ptr<void> SolverDelegate::reachForAbort(SolvePipeline& solve) {
    std::lock_guard guard(pipelineLock);
    pipeline = &solve;
    if (runner.isAborted()) solve.abort();
    return std::shared_ptr<void>(nullptr, [this](void*) {
        std::lock_guard guard(pipelineLock);
        pipeline = nullptr;
    });
}

void SolverDelegate::abort() {
    runner.abort();
    std::lock_guard guard(pipelineLock);
    if (pipeline) pipeline->abort();
}

void SolverDelegate::runSolve(SolveRequest request) {
    SolveOutcome outcome;
    if (writeHeaders) request.options.writeWcsHeaders = true;
    try {
        SolvePipeline solve(runner, *this, removeFiles, request.options);
        const std::shared_ptr<void> registration = reachForAbort(solve);
        outcome = solve.run(request.path);
    } catch (const std::exception& error) {
        outcome = {false, QString::fromStdString(error.what()), {}};
    } catch (...) {
        outcome = {false, "Solve failed", {}};
    }
    finishSolve(request.reservation, outcome, request.path);
}

// The final state and the release of the solver happen in one step, so a
// client that sees "done" or "failed" can start the next solve at once.
void SolverDelegate::finishSolve(SolveReservation& reservation, const SolveOutcome& outcome, const QString& path) {
    {
        std::lock_guard guard(resultLock);
        latest = outcome.result;
    }
    store.finish(outcome.solved ? SolverStatus::done : SolverStatus::failed, outcome.message, reservation);
    append(outcome.message, outcome.solved ? GREEN : RED);
    postControls(true);
    const bool solved = outcome.solved;
    log.post([this, solved, path, result = outcome.result] {
        if (view) view->showResult(result);
        emit solveFinished(solved, path);
    });
}

std::shared_ptr<const SolveResult> SolverDelegate::lastResult() const {
    std::lock_guard guard(resultLock);
    return latest;
}

void SolverDelegate::show() {
    removeFiles = Defaults::boolValue(Defaults::removeCreatedFiles);
    const bool writeWCS = Defaults::boolValue(Defaults::writeWCSHeaders);
    const bool remove = removeFiles;
    log.post([this, remove, writeWCS] {
        if (!view) return;
        view->setCheckBoxes(remove, writeWCS);
        view->present();
    });
}

void SolverDelegate::saveState(bool remove, bool writeWCSHeaders) {
    removeFiles = remove;
    writeHeaders = writeWCSHeaders;
    Defaults::setBool(Defaults::removeCreatedFiles, remove);
    Defaults::setBool(Defaults::writeWCSHeaders, writeWCSHeaders);
}

}  // namespace siderama
