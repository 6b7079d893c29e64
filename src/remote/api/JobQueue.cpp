#include "remote/api/JobQueue.h"

#include "remote/api/ApiArguments.h"
#include "remote/api/JobSolver.h"
#include "remote/api/JobStore.h"
#include "remote/api/JobTools.h"
#include "remote/api/SolveHints.h"

#include <QDir>
#include <QFileInfo>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace siderama {

namespace {

constexpr auto expiryPeriod = std::chrono::hours(1);
constexpr auto retryDelay = std::chrono::seconds(10);

}  // namespace

JobQueue::JobQueue(JobStore& store, JobFolders folders, ApiSettings settings, Events events)
    : store(store), folders(std::move(folders)), settings(settings), events(std::move(events)) {
    for (const int submission : store.recover()) waiting.push_back(submission);
    expire();
    for (int i = 0; i < std::max(1, settings.concurrentSolves); ++i) workers.emplace_back([this] { work(); });
    watchdog = std::thread([this] { watch(); });
    if (!waiting.empty()) publishLength();
}

JobQueue::~JobQueue() {
    {
        std::lock_guard guard(lock);
        stopping = true;
        for (auto& [job, run] : running) run.tools->stop(JobStore::stoppedMessage);
    }
    changed.notify_all();
    for (std::thread& worker : workers) worker.join();
    watchdog.join();
}

void JobQueue::submit(int submission) {
    {
        std::lock_guard guard(lock);
        waiting.push_back(submission);
    }
    changed.notify_all();
    publishLength();
}

// A job that clients see solving but whose tools have not started yet is
// stopped as soon as they do.
bool JobQueue::cancel(int job) {
    const std::optional<Job> known = store.job(job);
    std::lock_guard guard(lock);
    const auto found = running.find(job);
    if (found != running.end()) found->second.tools->stop("Cancelled");
    else if (known && known->status == Job::Status::solving) cancelled.insert(job);
    else return false;
    return true;
}

void JobQueue::retryLater(int submission) {
    std::unique_lock guard(lock);
    if (changed.wait_for(guard, retryDelay, [this] { return stopping; })) return;
    waiting.push_back(submission);
}

int JobQueue::length() const {
    std::lock_guard guard(lock);
    return int(waiting.size() + running.size());
}

JobQueue::Load JobQueue::load() const {
    std::lock_guard guard(lock);
    Load load{{waiting.begin(), waiting.end()}, {}, std::max(1, settings.concurrentSolves)};
    for (const auto& [job, run] : running) load.running.push_back(job);
    return load;
}

void JobQueue::publishLength() {
    if (events.lengthChanged) events.lengthChanged(length());
}

void JobQueue::work() {
    // Niceness belongs to the thread on Linux, and the tools inherit it.
    const auto thread = static_cast<id_t>(gettid());
    if (settings.solveNiceness != 0)
        setpriority(PRIO_PROCESS, thread, getpriority(PRIO_PROCESS, thread) + settings.solveNiceness);
    std::unique_lock guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return stopping || !waiting.empty(); });
        if (stopping) return;
        const int submission = waiting.front();
        waiting.pop_front();
        guard.unlock();
        solve(submission);
        guard.lock();
    }
}

// The store is written without the queue's lock, so that a store waiting
// for another program's lock holds up no upload or cancel.
void JobQueue::solve(int submissionId) {
    const std::optional<int> job = store.startJob(submissionId);
    const std::optional<Submission> submission = store.submission(submissionId);
    if (!submission) return;  // taken back
    if (!job) {
        events.log("API submission " + QString::number(submissionId) + ": no job could be started now (no id left, "
                   "or the job store is busy or full); trying again shortly", RED);
        retryLater(submissionId);
        return;
    }
    QDir(folders.job(*job)).removeRecursively();  // left by a store that was lost
    QDir().mkpath(folders.job(*job));
    JobTools tools(folders.log(*job));
    const auto limit = std::chrono::duration<double>(settings.timeLimitSeconds);
    const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
    {
        std::lock_guard guard(lock);
        running[*job] = {&tools, deadline};
        if (stopping) tools.stop(JobStore::stoppedMessage);
        else if (cancelled.erase(*job)) tools.stop("Cancelled");
    }
    changed.notify_all();  // the watchdog takes the new deadline
    events.log("API job " + QString::number(*job) + " started (submission " + QString::number(submissionId) + ")",
               YELLOW);
    const ApiArguments arguments(nlohmann::json::parse(submission->arguments, nullptr, false));
    try {
        if (!QFileInfo::exists(folders.input(submissionId)))
            throw JobFailure("The upload's data was not stored (the server stopped while receiving it)");
        QStringList notes;
        SolveOptions options = solveHintOptions(arguments, settings.defaultRadius, &notes);
        for (const QString& note : notes) tools.note(note);
        // A race takes a second core; jobs solved side by side already use them.
        options.racing = settings.concurrentSolves * 2 <= int(std::thread::hardware_concurrency());
        JobSolver solver(folders.input(submissionId), folders.job(*job), options, {deadline, limitText()});
        finish(*job, solver.solve(arguments, tools), {});
    } catch (const JobFailure& failure) {
        tools.note(failure.message());
        finish(*job, std::nullopt, failure.message());
    }
    {
        std::lock_guard guard(lock);
        running.erase(*job);
    }
    publishLength();
}

void JobQueue::finish(int job, const std::optional<Calibration>& calibration, const QString& error) {
    store.finishJob(job, calibration, error);
    const QString name = "API job " + QString::number(job);
    if (calibration)
        events.log(name + " solved: RA " + QString::number(calibration->ra, 'f', 4) + " Dec " +
                       QString::number(calibration->dec, 'f', 4),
                   GREEN);
    else
        events.log(name + " failed: " + error, RED);
}

void JobQueue::watch() {
    std::unique_lock guard(lock);
    Clock::time_point nextExpiry = Clock::now() + expiryPeriod;
    while (!stopping) {
        Clock::time_point wake = nextExpiry;
        for (auto& [job, run] : running) {
            if (run.deadline <= Clock::now()) {
                run.tools->stop(limitText());
                run.deadline = Clock::time_point::max();
            }
            wake = std::min(wake, run.deadline);
        }
        changed.wait_until(guard, wake);
        if (Clock::now() >= nextExpiry) {
            guard.unlock();
            expire();
            guard.lock();
            nextExpiry = Clock::now() + expiryPeriod;
        }
    }
}

QString JobQueue::limitText() const {
    return "Time limit of " + QString::number(settings.timeLimitSeconds) + " s reached";
}

void JobQueue::expire() {
    const auto [submissions, jobs] = store.expire(settings.retentionDays * 86400);
    for (const int id : submissions) QDir(folders.submission(id)).removeRecursively();
    for (const int id : jobs) QDir(folders.job(id)).removeRecursively();
}

}  // namespace siderama
