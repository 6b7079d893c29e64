#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace siderama {

class ToolProcess;

// Why a job failed, in words for its client.
class JobFailure : public std::runtime_error {
public:
    explicit JobFailure(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// Runs the tools of one API job one after another, writing their command
// lines and output to the job's log file. stop() may come from any thread.
class JobTools {
public:
    explicit JobTools(const QString& logPath);
    ~JobTools();

    // Runs a tool of the tools directory and returns its output. Throws
    // JobFailure when the tool does not start, does not end with status 0,
    // or was stopped.
    QString run(const QString& tool, const QStringList& arguments);
    // Ends the running tool; this and every later run fail with `reason`.
    void stop(const QString& reason);
    void note(const QString& line);

private:
    void checkStopped();

    QFile log;
    std::mutex lock;
    std::shared_ptr<ToolProcess> running;
    QString stopReason;
};

}  // namespace siderama
