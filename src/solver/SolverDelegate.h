#pragma once

#include "core/Constants.h"
#include "solver/BatchedLog.h"
#include "solver/ProcessToolRunner.h"
#include "solver/SolveReporter.h"
#include "solver/SolveReservation.h"
#include "solver/SolveThread.h"
#include "solver/SolverState.h"
#include "solver/SolverStateStore.h"
#include "solver/SolverView.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace siderama {

class SolvePipeline;
struct SolveOutcome;
struct SolveResult;

// The solver's controller: one solve at a time on its own thread, reported
// through its state and its log to its view. Callable from any thread; view
// updates are queued in order and applied on the main thread in batches.
class SolverDelegate : public QObject, public SolveReporter {
    Q_OBJECT
public:
    explicit SolverDelegate(QObject* parent = nullptr);
    ~SolverDelegate() override;

    // The view receives every later update; may be null (updates dropped).
    void setView(SolverView* view);

    // Log and state changes.
    void append(const QString& text, LogColor color = LogColor::plain) override;
    void busy(const std::optional<QString>& message = std::nullopt) override;
    void done(const std::optional<QString>& message = std::nullopt);
    void failed(const std::optional<QString>& message = std::nullopt);
    SolverState state() const { return store.state(); }
    // What the last finished solve left to show; null before the first.
    std::shared_ptr<const SolveResult> lastResult() const;
    void setCalibration(const CalibrationLine& line) override { store.setCalibration(line); }
    void resetCalibration() override { store.resetCalibration(); }
    // Shows the number of API jobs waiting or solving.
    void setQueueLength(int length);

    // Runs a tool of the tools directory through the solver's runner on the
    // calling thread; a failure is reported as the solver's state and thrown
    // as ToolError.
    void execute(const QString& tool, const QStringList& arguments, bool parse);
    // The words stored under the user default `key`, then `arguments`.
    static QStringList addArgs(const QString& key, const QStringList& arguments);

    // Reserves the solver for one solve; empty when a solve is running or
    // reserved.
    SolveReservation claim() { return SolveReservation::take(solving); }
    // Starts the reserved solve of `path` with `options` in the background:
    // the entry for every front end ("solve this file with these options").
    void solve(SolveReservation reservation, const QString& path,
               const SolveOptions& options = SolveOptions::load());
    // Starts a solve in the background; false (and "Solver busy" in the log)
    // when one is running.
    bool solvePath(const QString& path, const SolveOptions& options = SolveOptions::load());
    bool isSolving() const { return solving; }
    // Ends the running tools and stops the solve.
    void abort();

    // Loads the check boxes from the user defaults and shows the window.
    void show();
    // Stores both check boxes in the user defaults.
    void saveState(bool removeFiles, bool writeWCSHeaders);
    bool removeFilesEnabled() const { return removeFiles; }
    // Every later solve writes the solution into FITS inputs (the window's
    // check box; terminal solves ask through their options).
    void setWriteHeaders(bool on) { writeHeaders = on; }

signals:
    // Emitted on the main thread after the solve's last log line.
    void solveFinished(bool succeeded, const QString& path);

private:
    void setStatus(SolverStatus status, const std::optional<QString>& message, LogColor color);
    void postControls(bool solveEnabled);
    void runSolve(SolveRequest request);
    std::shared_ptr<void> reachForAbort(SolvePipeline& solve);
    void finishSolve(SolveReservation& reservation, const SolveOutcome& outcome, const QString& path);

    SolverStateStore store;
    mutable std::mutex resultLock;
    std::shared_ptr<const SolveResult> latest;  // guarded by resultLock
    BatchedLog log;
    SolverView* view = nullptr;  // used on the main thread only
    ProcessToolRunner runner{*this};
    std::atomic<bool> solving = false;
    std::atomic<bool> removeFiles = false;
    std::atomic<bool> writeHeaders = false;
    std::mutex pipelineLock;
    SolvePipeline* pipeline = nullptr;  // the running solve's; guarded by `pipelineLock`
    SolveThread thread;  // last: its solves use everything above
};

}  // namespace siderama
