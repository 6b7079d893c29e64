#include "solver/ProcessToolRunner.h"

#include "core/Constants.h"
#include "solver/SolveReporter.h"
#include "solver/StreamReader.h"
#include "solver/ToolError.h"
#include "solver/ToolProcess.h"

#include <QFileInfo>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>

namespace siderama {

namespace {

// A tool's output beyond this is not read: the tool is stopped.
constexpr std::uint64_t outputLimitMB = 16;
// How long output is waited for once the tool itself has ended.
constexpr std::chrono::milliseconds pipeGrace{2000};

QString displayLine(const QString& tool, const QStringList& arguments) {
    QString line = "\n" + tool;
    for (const QString& argument : arguments) line += " " + argument;
    return line;
}

}  // namespace

void ProcessToolRunner::execute(const QString& tool, const QStringList& arguments, bool parse) {
    reporter.busy(displayLine(tool, arguments));
    auto process = std::make_shared<ToolProcess>();
    {
        std::lock_guard guard(lock);
        task = process;
    }
    const QString program = toolsDirectory() + "/" + tool;
    const int output = aborted || !QFileInfo(program).isExecutable() ? -1 : process->start(program, arguments);
    if (output < 0) {
        if (aborted) throw ToolError(ToolError::Domain::aborted, tool + " aborted");
        throw ToolError(ToolError::Domain::failed, tool + " failed to start");
    }
    if (!logOutput(output, *process, parse)) {
        process->terminate();
        process->waitForExit();
        throw ToolError(ToolError::Domain::failed,
                        tool + " stopped: more than " + QString::number(outputLimitMB) + " MB of output");
    }
    requireSuccess(tool, process->waitForExit(), process->wasTerminated());
    reporter.busy(tool + " done");
    std::lock_guard guard(lock);
    task.reset();
}

// False when the output passed its limit. Output held open by processes
// that outlived the tool is not waited for: they are ended.
bool ProcessToolRunner::logOutput(int output, ToolProcess& process, bool parse) {
    StreamReader reader(output);
    reader.setGiveUp([&process] {
        if (!process.endedLongerThan(pipeGrace)) return false;
        process.killOutputHolders();
        return true;
    });
    while (const std::optional<QString> line = reader.nextLine()) {
        if (reader.bytesRead() > outputLimitMB << 20) return false;
        if (line->isEmpty()) continue;
        const std::optional<CalibrationLine> value = parse ? CalibrationLine::parse(*line) : std::nullopt;
        if (value) reporter.setCalibration(*value);
        reporter.append(*line, value && value->highlighted() ? GREEN : LogColor::plain);
    }
    return true;
}

// A tool that failed after it was asked to end, or that the abort's signal
// ended, was aborted.
void ProcessToolRunner::requireSuccess(const QString& tool, const ToolExit& exit, bool terminated) {
    if (exit.succeeded()) return;
    if (terminated || exit.signal == SIGTERM)
        throw ToolError(ToolError::Domain::aborted, tool + " aborted");
    throw ToolError(ToolError::Domain::terminated, exit.describe(tool));
}

void ProcessToolRunner::abort() {
    aborted = true;
    std::shared_ptr<ToolProcess> running;
    {
        std::lock_guard guard(lock);
        running = task;
    }
    if (running) running->terminate();
}

}  // namespace siderama
