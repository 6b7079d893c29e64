#include "solver/ProcessToolRunner.h"

#include "core/Constants.h"
#include "solver/SolveReporter.h"
#include "solver/ToolError.h"

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
    auto command = std::make_shared<ToolCommand>(tool, arguments);
    {
        std::lock_guard guard(lock);
        task = command;
    }
    if (aborted) command->stop();
    const ToolCommand::Result result = command->run([&](const QString& line) {
        const std::optional<CalibrationLine> value = parse ? CalibrationLine::parse(line) : std::nullopt;
        if (value) reporter.setCalibration(*value);
        reporter.append(line, value && value->highlighted() ? GREEN : LogColor::plain);
    });
    {
        std::lock_guard guard(lock);
        task.reset();
    }
    requireSuccess(tool, result);
    reporter.busy(tool + " done");
}

// A tool that failed after it was asked to end, or that the abort's signal
// ended, was aborted.
void ProcessToolRunner::requireSuccess(const QString& tool, const ToolCommand::Result& result) {
    if (result.succeeded()) return;
    if (!result.started || result.outputCut) {
        if (aborted) throw ToolError(ToolError::Domain::aborted, tool + " aborted");
        throw ToolError(ToolError::Domain::failed, result.failure(tool));
    }
    if (aborted || result.stopped || result.exit.signal == SIGTERM)
        throw ToolError(ToolError::Domain::aborted, tool + " aborted");
    throw ToolError(ToolError::Domain::terminated, result.failure(tool));
}

void ProcessToolRunner::abort() {
    aborted = true;
    std::shared_ptr<ToolCommand> running;
    {
        std::lock_guard guard(lock);
        running = task;
    }
    if (running) running->stop();
}

}  // namespace siderama
