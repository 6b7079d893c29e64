#include "solver/ProcessToolRunner.h"

#include "core/Constants.h"
#include "solver/SolveReporter.h"
#include "solver/StreamReader.h"
#include "solver/ToolError.h"
#include "solver/ToolProcess.h"

#include <QFileInfo>
#include <csignal>

namespace siderama {

namespace {

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
    logOutput(output, parse);
    requireSuccess(tool, process->waitForExit(), process->wasTerminated());
    reporter.busy(tool + " done");
    std::lock_guard guard(lock);
    task.reset();
}

void ProcessToolRunner::logOutput(int output, bool parse) {
    StreamReader reader(output);
    while (const std::optional<QString> line = reader.nextLine()) {
        if (line->isEmpty()) continue;
        const std::optional<CalibrationLine> value = parse ? CalibrationLine::parse(*line) : std::nullopt;
        if (value) reporter.setCalibration(*value);
        reporter.append(*line, value && value->highlighted() ? GREEN : LogColor::plain);
    }
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
