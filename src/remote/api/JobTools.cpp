#include "remote/api/JobTools.h"

#include "app/core/Constants.h"
#include "solver/StreamReader.h"
#include "solver/ToolProcess.h"

namespace siderama {

JobTools::JobTools(const QString& logPath) : log(logPath) { log.open(QIODevice::Append | QIODevice::Text); }

JobTools::~JobTools() = default;

void JobTools::note(const QString& line) {
    log.write((line + "\n").toUtf8());
    log.flush();
}

void JobTools::checkStopped() {
    std::lock_guard guard(lock);
    if (!stopReason.isEmpty()) throw JobFailure(stopReason);
}

QString JobTools::run(const QString& tool, const QStringList& arguments) {
    note(tool + " " + arguments.join(' '));
    auto process = std::make_shared<ToolProcess>();
    {
        // Checked and registered in one step: a stop() from now on reaches
        // the process, even before it has started.
        std::lock_guard guard(lock);
        if (!stopReason.isEmpty()) throw JobFailure(stopReason);
        running = process;
    }
    const int output = process->start(toolsDirectory() + "/" + tool, arguments);
    if (output < 0) throw JobFailure(tool + " failed to start");
    QString text;
    {
        StreamReader reader(output);
        while (const std::optional<QString> line = reader.nextLine()) {
            text += *line + "\n";
            note(*line);
        }
    }
    const int status = process->waitForExit();
    {
        std::lock_guard guard(lock);
        running.reset();
    }
    checkStopped();
    if (status != 0) throw JobFailure(tool + " terminated (status " + QString::number(status) + ")");
    return text;
}

void JobTools::stop(const QString& reason) {
    std::lock_guard guard(lock);
    if (stopReason.isEmpty()) stopReason = reason;
    if (running) running->terminate();
}

}  // namespace siderama
