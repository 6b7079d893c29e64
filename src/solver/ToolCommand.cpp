#include "solver/ToolCommand.h"

#include "core/Constants.h"
#include "solver/StreamReader.h"

#include <thread>

namespace siderama {

namespace {

// How long output is waited for once the tool itself has ended on its own;
// after stop() it is not waited for at all.
constexpr std::chrono::milliseconds pipeGrace{2000};

}  // namespace

QString ToolCommand::Result::failure(const QString& tool) const {
    if (!started) return tool + " failed to start";
    if (outputCut) return tool + " stopped: more than " + QString::number(outputLimit >> 20) + " MB of output";
    if (stopped) return tool + " aborted";
    return exit.succeeded() ? QString() : exit.describe(tool);
}

ToolCommand::Result ToolCommand::run(const LineHandler& onLine, std::optional<Clock::time_point> deadline,
                                     const LineHandler& onError) {
    Result result;
    int errors = -1;
    const QString program = tool.startsWith('/') ? tool : toolsDirectory() + "/" + tool;
    const int output = process->wasTerminated() ? -1 : process->start(program, arguments, onError ? &errors : nullptr);
    result.started = output >= 0;
    result.stopped = process->wasTerminated();
    if (!result.started) return result;
    std::atomic<std::uint64_t> total = 0;
    std::atomic<bool> cut = false;
    std::thread errorReader;
    if (onError)
        errorReader = std::thread([&] {
            if (!read(errors, onError, deadline, total)) cut = true;
        });
    if (!read(output, onLine, deadline, total)) cut = true;
    if (cut) process->terminate();
    if (errorReader.joinable()) errorReader.join();
    result.outputCut = cut;
    result.exit = process->waitForExit();
    result.stopped = process->wasTerminated() && !result.outputCut;
    return result;
}

// False when the output of both streams together passed its limit; the
// tool is then stopped.
bool ToolCommand::read(int stream, const LineHandler& onLine, std::optional<Clock::time_point> deadline,
                       std::atomic<std::uint64_t>& total) {
    StreamReader reader(stream);
    reader.setGiveUp([this, deadline] {
        if (deadline && Clock::now() >= *deadline) process->terminate();
        if (!process->endedLongerThan(process->wasTerminated() ? std::chrono::milliseconds(0) : pipeGrace))
            return false;
        process->killOutputHolders();
        return true;
    });
    std::uint64_t counted = 0;
    while (const std::optional<QString> line = reader.nextLine()) {
        total += reader.bytesRead() - counted;
        counted = reader.bytesRead();
        if (total > outputLimit) {
            process->terminate();
            return false;
        }
        if (!line->isEmpty() && onLine) onLine(*line);
    }
    return true;
}

std::optional<QString> ToolCommand::output(const QString& tool, const QStringList& arguments,
                                           std::chrono::seconds timeLimit) {
    QString text;
    const Result result =
        ToolCommand(tool, arguments).run([&text](const QString& line) { text += line + "\n"; }, Clock::now() + timeLimit);
    return result.succeeded() ? std::optional(text) : std::nullopt;
}

void ToolCommand::stop() { process->terminate(); }

}  // namespace siderama
