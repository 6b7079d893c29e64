#include "remote/api/JobTools.h"

#include "solver/ToolDiagnosis.h"
#include "solver/ToolError.h"

namespace siderama {

JobTools::JobTools(const QString& logPath) : log(logPath) { log.open(QIODevice::Append | QIODevice::Text); }

void JobTools::note(const QString& line) {
    std::lock_guard guard(logLock);
    log.write((line + "\n").toUtf8());
    log.flush();
}

void JobTools::append(const QString& text, LogColor) {
    output += text + "\n";
    note(text);
}

void JobTools::busy(const std::optional<QString>& message) {
    if (message) note(message->trimmed());
}

QString JobTools::run(const QString& tool, const QStringList& arguments) {
    output.clear();
    try {
        runner.execute(tool, arguments, false);
    } catch (const ToolError& error) {
        throwIfStopped();
        throw JobFailure(ToolDiagnosis::explain(QString::fromStdString(error.what()), output.split('\n')));
    }
    return output;
}

QString JobTools::solve(const SolvePaths& paths, const SolveOptions& options,
                        SolvePortfolio::Clock::time_point deadline) {
    const QString failure = portfolio.solve(paths, options, deadline);
    if (!failure.isEmpty()) throwIfStopped();
    return failure;
}

void JobTools::throwIfStopped() {
    std::lock_guard guard(lock);
    if (!stopReason.isEmpty()) throw JobFailure(stopReason);
}

void JobTools::stop(const QString& reason) {
    {
        std::lock_guard guard(lock);
        if (stopReason.isEmpty()) stopReason = reason;
    }
    runner.abort();
    portfolio.abort();
}

}  // namespace siderama
