#pragma once

#include "solver/ProcessToolRunner.h"
#include "solver/SolvePortfolio.h"
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

// Runs the tools of one API job through the solver's process runner or its
// portfolio of strategies, writing their command lines and output to the
// job's log file. stop() may come from any thread.
class JobTools : public SolveReporter {
public:
    explicit JobTools(const QString& logPath);

    // Runs a tool of the tools directory and returns its output. Throws
    // JobFailure when the tool does not start, does not succeed, or was stopped.
    QString run(const QString& tool, const QStringList& arguments);
    // Solves an image with the portfolio; returns its failure ("" when
    // solved). Throws JobFailure when stopped.
    QString solve(const SolvePaths& paths, const SolveOptions& options, SolvePortfolio::Clock::time_point deadline);
    // wcsinfo's output on the solution solve() found.
    const QString& solutionInfo() const { return portfolio.solutionInfo(); }
    // Ends the running tool; this and every later run fail with `reason`.
    void stop(const QString& reason);
    void note(const QString& line);  // any thread

    void append(const QString& text, LogColor color = LogColor::plain) override;
    void busy(const std::optional<QString>& message = std::nullopt) override;
    void setCalibration(const CalibrationLine&) override {}
    void resetCalibration() override {}

private:
    void throwIfStopped();

    QFile log;
    std::mutex logLock;
    ProcessToolRunner runner{*this};
    SolvePortfolio portfolio{[this](const QString& text, LogColor) { note(text.trimmed()); }};
    QString output;  // of the running tool
    std::mutex lock;
    QString stopReason;  // guarded by `lock`
};

}  // namespace siderama
