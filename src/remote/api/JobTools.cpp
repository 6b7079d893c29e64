#include "remote/api/JobTools.h"

#include "solver/ToolError.h"

namespace siderama {

JobTools::JobTools(const QString& logPath) : log(logPath) { log.open(QIODevice::Append | QIODevice::Text); }

void JobTools::note(const QString& line) {
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
        std::lock_guard guard(lock);
        throw JobFailure(stopReason.isEmpty() ? QString::fromStdString(error.what()) : stopReason);
    }
    return output;
}

void JobTools::stop(const QString& reason) {
    {
        std::lock_guard guard(lock);
        if (stopReason.isEmpty()) stopReason = reason;
    }
    runner.abort();
}

}  // namespace siderama
