#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace siderama {

// How a tool ended: its exit code, or the signal that ended it.
struct ToolExit {
    int code = 0;
    std::optional<int> signal;

    bool succeeded() const { return !signal && code == 0; }
    // "TOOL terminated (status N)" or "TOOL terminated by signal SIGSEGV".
    QString describe(const QString& tool) const;
};

// One plate-solving tool run as a child process in its own process group,
// with standard output and standard error merged into one pipe (or in two)
// and standard input read from /dev/null.
class ToolProcess : public std::enable_shared_from_this<ToolProcess> {
public:
    ToolProcess() = default;
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // Starts `program` by its real path (links resolved) with `arguments`,
    // the real path's folder first on PATH, so that a tool finds the
    // interpreter and helpers installed beside it whatever the user put
    // first on PATH. Returns the read end of the output pipe, or -1 when it
    // did not start. With `errorOutput`, standard error goes to a pipe of
    // its own whose read end is stored there.
    int start(const QString& program, const QStringList& arguments, int* errorOutput = nullptr);

    // Waits for the child to end.
    ToolExit waitForExit();

    // Asks the whole process group to end (SIGTERM); a group still alive
    // after the grace period is killed. Safe to call from any thread and
    // before start() and after the child has ended. The object must be owned
    // by a shared_ptr.
    void terminate();

    bool wasTerminated() const;

    // True once the child itself has ended at least `grace` ago (its output
    // pipe may still be held open by descendants that left its group).
    bool endedLongerThan(std::chrono::milliseconds grace);

    // Kills the processes that left the group but still hold the output
    // pipe open (a daemon the tool started), so that nothing is left running.
    void killOutputHolders() const;

private:
    bool openPipe(int ends[2]);
    void signalGroup();  // with `lock` held
    void killGroupAfterGrace();

    mutable std::mutex lock;
    pid_t pid = -1;
    bool reaped = false;
    bool terminated = false;
    std::optional<std::chrono::steady_clock::time_point> endSeen;
    std::vector<ino_t> outputPipes;
};

}  // namespace siderama
