#pragma once

#include "solver/ToolCommand.h"
#include "solver/ToolRunner.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace siderama {

class SolveReporter;

// Runs the plate-solving tools of the tools directory as child processes,
// one at a time, and streams their output into a reporter: the command line
// and "<tool> done" in yellow, output lines plain, calibration lines green.
class ProcessToolRunner : public ToolRunner {
public:
    explicit ProcessToolRunner(SolveReporter& reporter) : reporter(reporter) {}

    void execute(const QString& tool, const QStringList& arguments, bool parse) override;

    // Ends the running tool (and everything it started); every later tool
    // counts as aborted until rearm(). Callable from any thread.
    void abort();
    void rearm() { aborted = false; }
    bool isAborted() const { return aborted; }

private:
    void requireSuccess(const QString& tool, const ToolCommand::Result& result);

    SolveReporter& reporter;
    std::mutex lock;
    std::shared_ptr<ToolCommand> task;  // guarded by `lock`
    std::atomic<bool> aborted = false;
};

}  // namespace siderama
