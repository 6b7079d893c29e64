#pragma once

#include "core/Constants.h"
#include "solver/SolveAttempt.h"
#include "solver/WcsSummary.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace siderama {

// Runs lanes of solve attempts: the attempts of a lane one after another,
// the lanes side by side, staggered: a lane starts only when the one before
// it has run for the delay without a solution, or at once when an attempt
// ended without one. The first solution wcsinfo accepts wins; every other
// lane is ended with its tools' whole process groups and a lane that has not
// started never does. An attempt that overruns its budget is ended and its
// lane goes on with the next one, and so is an attempt that reads a list
// another one searched at every scale in vain; at the deadline everything
// is ended.
class StrategyRace {
public:
    using Clock = std::chrono::steady_clock;
    using Log = std::function<void(const QString& text, LogColor color)>;

    struct Record {  // one attempt that ran, for the log
        QString name;
        double seconds;
        QString result;  // "solved", "no solution", "budget used up", ...
    };
    struct Outcome {
        enum class Kind { solved, failed, timeLimit, aborted } kind = Kind::failed;
        std::optional<SolveAttempt> winner;
        std::optional<WcsSummary> solution;
        QStringList winnerOutput;  // the winning attempt's tool output
        std::vector<Record> records;
        // The first tool failure of a logged attempt ("solve-field terminated
        // (status 2)"), or the logged tool that an abort ended ("image2xy
        // aborted").
        QString failure;
    };

    explicit StrategyRace(Log log);
    ~StrategyRace();
    StrategyRace(const StrategyRace&) = delete;
    StrategyRace& operator=(const StrategyRace&) = delete;

    Outcome run(const std::vector<std::vector<SolveAttempt>>& lanes, Clock::time_point deadline,
                Clock::duration delay = {});
    // Ends the running tools; run() returns "aborted". Any thread.
    void abort();

private:
    struct Lane;
    void runLane(Lane& lane);
    bool runAttempt(Lane& lane, const SolveAttempt& attempt, QStringList& output);
    // True when the step succeeded.
    bool runShared(Lane& lane, const SolveAttempt& attempt, const SolveAttempt::Step& step, QStringList& output);
    bool runStep(Lane& lane, const SolveAttempt& attempt, const SolveAttempt::Step& step, QStringList& output);
    void reportFailure(const SolveAttempt& attempt, const QString& message);
    void endAttemptsOnTheSameList(Lane& lane, const SolveAttempt& attempt);
    void finishAttempt(Lane& lane, const SolveAttempt& attempt, Clock::time_point start, bool solved,
                       QStringList& output);
    void stopLanes(const QString& reason);  // with `lock` held
    void superviseUntil(Clock::time_point deadline);
    std::optional<Clock::time_point> nextBudgetEnd() const;  // with `lock` held
    bool releaseDue(Clock::time_point now);                   // with `lock` held

    Log log;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::unique_ptr<Lane>> lanes;
    Outcome outcome;
    bool aborted = false;
    bool decided = false;
    QString loggedTool;  // the last tool a logged attempt started
    Clock::duration stagger{};
    Clock::time_point nextRelease;
    bool attemptFailed = false;          // since the last lane started
    std::map<QString, bool> sharedSteps;  // key: command line; false while running
    std::map<QString, QString> exhausted;  // lists searched at every scale, and by which attempt
};

}  // namespace siderama
