#include "solver/StrategyRace.h"

#include "solver/SolvePaths.h"
#include "solver/ToolCommand.h"
#include "solver/ToolDiagnosis.h"

#include <QFile>
#include <QFileInfo>
#include <thread>

namespace siderama {

struct StrategyRace::Lane {
    std::vector<SolveAttempt> attempts;
    std::shared_ptr<ToolCommand> tool;      // the running tool, if any
    std::optional<Clock::time_point> budgetEnd;  // of the running attempt
    const SolveAttempt* current = nullptr;  // the running attempt
    bool overBudget = false;  // the running attempt must end
    QString cutShort;         // why, when not its budget
    QString stopReason;  // set when the lane must end
    bool released = false;  // may start
    bool finished = false;
    std::thread thread;
};

namespace {

double secondsSince(StrategyRace::Clock::time_point start) {
    return std::chrono::duration<double>(StrategyRace::Clock::now() - start).count();
}

const QString searchedAll = " searched the same list at every scale)";

QString commandLine(const SolveAttempt::Step& step) { return "\n" + (QStringList{step.tool} + step.arguments).join(' '); }

}  // namespace

StrategyRace::StrategyRace(Log log) : log(std::move(log)) {}

StrategyRace::~StrategyRace() {
    {
        std::lock_guard guard(lock);
        stopLanes("ended");
    }
    for (auto& lane : lanes)
        if (lane->thread.joinable()) lane->thread.join();
}

StrategyRace::Outcome StrategyRace::run(const std::vector<std::vector<SolveAttempt>>& attemptLanes,
                                        Clock::time_point deadline, Clock::duration delay) {
    {
        std::lock_guard guard(lock);
        for (const auto& attempts : attemptLanes) {
            lanes.push_back(std::make_unique<Lane>());
            lanes.back()->attempts = attempts;
        }
        stagger = delay;
        nextRelease = Clock::now();
        if (aborted) stopLanes("aborted");
    }
    for (auto& lane : lanes) lane->thread = std::thread([this, &lane = *lane] { runLane(lane); });
    superviseUntil(deadline);
    for (auto& lane : lanes) lane->thread.join();
    std::lock_guard guard(lock);
    if (aborted && !outcome.winner) {
        outcome.kind = Outcome::Kind::aborted;
        outcome.failure = (loggedTool.isEmpty() ? QString("solve") : loggedTool) + " aborted";
    }
    return outcome;
}

void StrategyRace::superviseUntil(Clock::time_point deadline) {
    std::unique_lock guard(lock);
    for (;;) {
        const bool allFinished = std::all_of(lanes.begin(), lanes.end(), [](auto& l) { return l->finished; });
        if (decided || allFinished) return;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            outcome.kind = Outcome::Kind::timeLimit;
            stopLanes("time limit");
            return;
        }
        for (auto& lane : lanes) {
            if (!lane->budgetEnd || *lane->budgetEnd > now || lane->overBudget) continue;
            lane->overBudget = true;
            if (lane->tool) lane->tool->stop();
            changed.notify_all();
        }
        const bool waiting = releaseDue(now);
        const auto budgetEnd = nextBudgetEnd();
        Clock::time_point wake = budgetEnd ? std::min(*budgetEnd, deadline) : deadline;
        if (waiting) wake = std::min(wake, nextRelease);
        changed.wait_until(guard, wake);
    }
}

// The next waiting lane starts once the delay since the last start has
// passed, or at once when an attempt ended without a solution. True while a
// lane still waits.
bool StrategyRace::releaseDue(Clock::time_point now) {
    const auto waiting = std::find_if(lanes.begin(), lanes.end(), [](auto& l) { return !l->released; });
    if (waiting == lanes.end()) return false;
    if (now < nextRelease && !attemptFailed) return true;
    (*waiting)->released = true;
    attemptFailed = false;
    nextRelease = now + stagger;
    changed.notify_all();
    return waiting + 1 != lanes.end();
}

std::optional<StrategyRace::Clock::time_point> StrategyRace::nextBudgetEnd() const {
    std::optional<Clock::time_point> next;
    for (const auto& lane : lanes)
        if (lane->budgetEnd && !lane->overBudget && (!next || *lane->budgetEnd < *next)) next = lane->budgetEnd;
    return next;
}

void StrategyRace::stopLanes(const QString& reason) {
    for (auto& lane : lanes) {
        if (lane->stopReason.isEmpty()) lane->stopReason = reason;
        if (lane->tool) lane->tool->stop();
    }
    changed.notify_all();
}

void StrategyRace::abort() {
    std::lock_guard guard(lock);
    aborted = true;
    stopLanes("aborted");
}

void StrategyRace::runLane(Lane& lane) {
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return lane.released || !lane.stopReason.isEmpty(); });
        if (!lane.released) {  // a solution came first
            lane.finished = true;
            changed.notify_all();
            return;
        }
    }
    for (const SolveAttempt& attempt : lane.attempts) {
        QStringList output;
        if (runAttempt(lane, attempt, output)) break;
    }
    std::lock_guard guard(lock);
    lane.finished = true;
    changed.notify_all();
}

// True when the lane is done: solved, or told to stop.
bool StrategyRace::runAttempt(Lane& lane, const SolveAttempt& attempt, QStringList& output) {
    const Clock::time_point start = Clock::now();
    {
        std::lock_guard guard(lock);
        if (!lane.stopReason.isEmpty()) return true;
        lane.current = &attempt;
        lane.cutShort.clear();
        lane.overBudget = exhausted.contains(attempt.source);
        if (lane.overBudget) lane.cutShort = "skipped (" + exhausted[attempt.source] + searchedAll;
        lane.budgetEnd = attempt.budget > 0 ? std::optional(start + std::chrono::duration_cast<Clock::duration>(
                                                                         std::chrono::duration<double>(attempt.budget)))
                                            : std::nullopt;
        changed.notify_all();
    }
    // A solution left by an earlier solve of the same file must not pass.
    QFile::remove(attempt.solved);
    QFile::remove(attempt.wcs);
    bool ran = true;
    for (const SolveAttempt::Step& step : attempt.steps)
        if (!(ran = runShared(lane, attempt, step, output))) break;
    const bool solved = ran && QFileInfo::exists(attempt.solved) && QFileInfo::exists(attempt.wcs);
    if (ran && !solved && attempt.exhaustive) endAttemptsOnTheSameList(lane, attempt);
    finishAttempt(lane, attempt, start, solved, output);
    std::lock_guard guard(lock);
    lane.current = nullptr;
    return decided || !lane.stopReason.isEmpty();
}

// A search of every scale of a list found nothing: no other attempt reading
// that list can win any more.
void StrategyRace::endAttemptsOnTheSameList(Lane& lane, const SolveAttempt& attempt) {
    std::lock_guard guard(lock);
    if (lane.overBudget || !lane.stopReason.isEmpty()) return;
    exhausted[attempt.source] = attempt.name;
    for (auto& other : lanes) {
        if (other.get() == &lane || !other->current || other->current->source != attempt.source || other->overBudget)
            continue;
        other->overBudget = true;
        other->cutShort = "ended (" + attempt.name + searchedAll;
        if (other->tool) other->tool->stop();
    }
    changed.notify_all();
}

// A shared step (an extraction several lanes begin with) runs once: a lane
// that comes to it while another runs it waits and takes its result.
bool StrategyRace::runShared(Lane& lane, const SolveAttempt& attempt, const SolveAttempt::Step& step,
                             QStringList& output) {
    if (!step.shared) return runStep(lane, attempt, step, output);
    const QString key = (QStringList{step.tool} + step.arguments).join(QChar(0));
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] {
            return !sharedSteps.contains(key) || sharedSteps[key] || !lane.stopReason.isEmpty() || lane.overBudget;
        });
        if (!lane.stopReason.isEmpty() || lane.overBudget) return false;
        if (sharedSteps.contains(key)) {
            log("[" + attempt.name + "] " + step.tool + ": the list another strategy made", LogColor::plain);
            return true;
        }
        sharedSteps[key] = false;  // running
    }
    const bool ran = runStep(lane, attempt, step, output);
    std::lock_guard guard(lock);
    if (ran) sharedSteps[key] = true;
    else sharedSteps.erase(key);  // another lane may try it itself
    changed.notify_all();
    return ran;
}

bool StrategyRace::runStep(Lane& lane, const SolveAttempt& attempt, const SolveAttempt::Step& step,
                           QStringList& output) {
    const bool logged = attempt.logged;
    auto command = std::make_shared<ToolCommand>(step.tool, step.arguments);
    {
        std::lock_guard guard(lock);
        if (!lane.stopReason.isEmpty() || lane.overBudget) return false;
        lane.tool = command;
        if (logged) loggedTool = step.tool;
    }
    // Only the shown strategy's commands are the solve's progress.
    if (logged) log(commandLine(step), YELLOW);
    else log("[" + attempt.name + "] " + commandLine(step).mid(1), LogColor::plain);
    const ToolCommand::Result result = command->run([&](const QString& line) {
        if (logged) log(line, LogColor::plain);
        output << line;
    });
    {
        std::lock_guard guard(lock);
        lane.tool.reset();
    }
    if (result.stopped) return false;
    if (!result.succeeded()) reportFailure(attempt, ToolDiagnosis::explain(result.failure(step.tool), output));
    return result.succeeded();
}

void StrategyRace::reportFailure(const SolveAttempt& attempt, const QString& message) {
    log(attempt.logged ? message : "[" + attempt.name + "] " + message, RED);
    std::lock_guard guard(lock);
    if (attempt.logged && outcome.failure.isEmpty()) outcome.failure = message;
}

void StrategyRace::finishAttempt(Lane& lane, const SolveAttempt& attempt, Clock::time_point start, bool solved,
                                 QStringList& output) {
    // wcsinfo must read the solution before it counts.
    std::optional<WcsSummary> solution = solved ? WcsSummary::read(attempt.wcs) : std::nullopt;
    const double seconds = secondsSince(start);
    std::lock_guard guard(lock);
    QString result = solution ? "solved" : solved ? "solution rejected by wcsinfo" : "no solution";
    if (solution && decided) result = "solved, but later";
    else if (!solution && !lane.stopReason.isEmpty()) result = "ended (" + lane.stopReason + ")";
    else if (!solution && !lane.cutShort.isEmpty()) result = lane.cutShort;
    else if (!solution && lane.overBudget) result = "budget of " + formatSeconds(attempt.budget) + " s used up";
    outcome.records.push_back({attempt.name, seconds, result});
    attemptFailed = attemptFailed || !solution;
    changed.notify_all();
    if (solved && !solution && attempt.logged && outcome.failure.isEmpty())
        outcome.failure = "wcsinfo could not read the solution";
    if (!solution || decided) return;
    decided = true;
    outcome.kind = Outcome::Kind::solved;
    outcome.winner = attempt;
    outcome.solution = solution;
    outcome.winnerOutput = std::move(output);
    stopLanes(attempt.name + " solved");
}

}  // namespace siderama
