#pragma once

#include "app/core/Constants.h"
#include "solver/SolveOptions.h"
#include "solver/SolverState.h"
#include "solver/SolverView.h"
#include "solver/ToolError.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace siderama {

class SolvePipeline;
class ToolProcess;

// The solver's controller: the solver state, the log, the tool runner and
// the entry points of the solve pipeline. Callable from any thread; view
// updates are queued in order and applied on the main thread in batches.
class SolverDelegate : public QObject {
    Q_OBJECT
public:
    explicit SolverDelegate(QObject* parent = nullptr);
    ~SolverDelegate() override;

    // The view receives every later update; may be null (updates dropped).
    void setView(SolverView* view);

    // Log and state changes.
    void append(const QString& text, LogColor color = LogColor::plain);
    void busy(const std::optional<QString>& message = std::nullopt);
    void done(const std::optional<QString>& message = std::nullopt);
    void failed(const std::optional<QString>& message = std::nullopt);
    SolverState state() const;
    void resetCalibration();

    // Runs a tool from the tools directory, streams its output into the log
    // and, with `parse`, takes the calibration values from it. Blocks until
    // the tool has ended; throws ToolError when it did not succeed.
    void execute(const QString& tool, const QStringList& arguments, bool parse);
    // The words stored under the user default `key`, then `arguments`.
    static QStringList addArgs(const QString& key, const QStringList& arguments);

    // Reserves the solver for one solve; false when a solve is running or
    // reserved. A successful claim must be followed by solveClaimed().
    bool claim();
    void solveClaimed(const QString& path, const SolveOptions& options = SolveOptions::load());
    // Starts a solve of `path` with `options` in the background; false (and
    // "Solver busy" in the log) when one is running.
    bool solvePath(const QString& path, const SolveOptions& options = SolveOptions::load());
    bool isSolving() const { return solving; }
    // Ends the running tool and stops the solve.
    void abort();

    // Loads the check boxes from the user defaults and shows the window.
    void show();
    // Stores both check boxes in the user defaults.
    void saveState(bool removeFiles, bool writeWCSHeaders);
    bool removeFilesEnabled() const { return removeFiles; }

signals:
    // Emitted on the main thread after the solve's last log line.
    void solveFinished(bool succeeded);

private:
    void setStatus(const QString& status, const std::optional<QString>& message, LogColor color);
    void post(std::function<void()> command);
    void postControls(bool solveEnabled);
    void finishSolve(const std::optional<QString>& doneMessage);
    void runSolves();
    std::optional<QString> runPipeline(const QString& path, const SolveOptions& options);
    void flush();
    void parseCalibration(const QString& line);
    void logOutput(int output, bool parse);
    void reportExit(const QString& tool, ToolProcess& process);
    [[noreturn]] void fail(ToolError::Domain domain, const QString& message);

    mutable std::mutex stateLock;
    SolverState current;
    std::shared_ptr<ToolProcess> task;
    SolvePipeline* pipeline = nullptr;  // the running solve's

    std::mutex queueLock;
    std::vector<std::function<void()>> pending;
    bool flushPosted = false;
    SolverView* view = nullptr;  // used on the main thread only

    std::atomic<bool> solving = false;
    std::atomic<bool> abortFlag = false;
    std::atomic<bool> removeFiles = false;

    // Solves run on one thread made with the delegate, not on the thread that
    // asks for them: a thread (and the tools it starts) inherits its creator's
    // niceness, and the HTTP connection threads run at the lowest priority.
    std::mutex solveLock;
    std::condition_variable solveRequested;
    std::optional<std::pair<QString, SolveOptions>> requested;
    bool stopping = false;
    std::thread worker;
};

}  // namespace siderama
