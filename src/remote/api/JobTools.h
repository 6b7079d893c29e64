#pragma once

#include "solver/ProcessToolRunner.h"
#include "solver/SolveReporter.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <mutex>
#include <stdexcept>

namespace siderama {

// Why a job failed, in words for its client.
class JobFailure : public std::runtime_error {
public:
    explicit JobFailure(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// Runs the tools of one API job one after another through the solver's
// process runner, writing their command lines and output to the job's log
// file. stop() may come from any thread.
class JobTools : public SolveReporter {
public:
    explicit JobTools(const QString& logPath);

    // Runs a tool of the tools directory and returns its output. Throws
    // JobFailure when the tool does not start, does not succeed, or was stopped.
    QString run(const QString& tool, const QStringList& arguments);
    // Ends the running tool; this and every later run fail with `reason`.
    void stop(const QString& reason);
    void note(const QString& line);

    void append(const QString& text, LogColor color = LogColor::plain) override;
    void busy(const std::optional<QString>& message = std::nullopt) override;
    void setCalibration(const CalibrationLine&) override {}
    void resetCalibration() override {}

private:
    QFile log;
    ProcessToolRunner runner{*this};
    QString output;  // of the running tool
    std::mutex lock;
    QString stopReason;  // guarded by `lock`
};

}  // namespace siderama
