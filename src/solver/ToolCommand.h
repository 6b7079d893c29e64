#pragma once

#include "solver/ToolProcess.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace siderama {

// One run of a tool of the tools directory, and the only way Siderama runs
// one. The tool is started by its real path (see ToolProcess::start) in a
// process group of its own; its merged output is read line by line, each
// line cut at StreamReader::longestLine, and the tool is stopped once it has
// written more than `outputLimit` bytes. stop() (a budget, the solve's
// deadline, an abort) and the run's own deadline end the whole group; a
// descendant that left the group and still holds the output pipe is not
// waited for but killed once the tool itself has ended.
class ToolCommand {
public:
    using Clock = std::chrono::steady_clock;
    using LineHandler = std::function<void(const QString& line)>;

    static constexpr std::uint64_t outputLimit = std::uint64_t(16) << 20;

    struct Result {
        bool started = false;
        bool stopped = false;     // by stop() or the deadline
        bool outputCut = false;   // past outputLimit
        ToolExit exit;

        bool succeeded() const { return started && !stopped && !outputCut && exit.succeeded(); }
        // "", "TOOL failed to start", "TOOL aborted", "TOOL stopped: more
        // than 16 MB of output", "TOOL terminated (status N)", ...
        QString failure(const QString& tool) const;
    };

    // `tool`: a name in the tools directory, or an absolute path.
    ToolCommand(QString tool, QStringList arguments) : tool(std::move(tool)), arguments(std::move(arguments)) {}

    // Runs the tool to its end, handing each non-empty line to `onLine`;
    // with `onError`, standard error is read apart and its lines go there
    // (from another thread). Once only.
    Result run(const LineHandler& onLine, std::optional<Clock::time_point> deadline = std::nullopt,
               const LineHandler& onError = {});
    // Runs the tool and returns its output, none unless it succeeded.
    static std::optional<QString> output(const QString& tool, const QStringList& arguments,
                                         std::chrono::seconds timeLimit);
    // Ends the tool's process group; the run ends as stopped. Any thread,
    // also before run().
    void stop();

    const QString tool;
    const QStringList arguments;

private:
    bool read(int stream, const LineHandler& onLine, std::optional<Clock::time_point> deadline,
              std::atomic<std::uint64_t>& total);

    std::shared_ptr<ToolProcess> process = std::make_shared<ToolProcess>();
};

}  // namespace siderama
