#include "remote/api/JobQueue.h"

#include "remote/api/ApiArguments.h"
#include "remote/api/JobNotifications.h"
#include "remote/api/JobSolver.h"
#include "remote/api/JobStore.h"
#include "remote/api/JobTools.h"
#include "remote/api/SolveHints.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace siderama {

namespace {

constexpr auto expiryPeriod = std::chrono::hours(1);
constexpr auto tendPeriod = std::chrono::seconds(2);  // leases, heartbeat, silent members
constexpr auto pollPeriod = std::chrono::seconds(2);  // workers look without a wake-up too
constexpr qint64 aliveWithinMs = 15000;
const QString takenOver = "The job was taken over by another member (this one lost its lease)";

}  // namespace

JobQueue::JobQueue(JobStore& store, JobFolders folders, ApiSettings settings, Events events)
    : store(store), folders(std::move(folders)), settings(settings), events(std::move(events)),
      host(QSysInfo::machineHostName()) {
    // A lone SQLite member knows that jobs left solving were cut by a stop or crash.
    if (!store.database().postgres()) store.recover();
    expire();
    store.heartbeat(host, settings.concurrentSolves);
    if (store.database().postgres())
        notifications = std::make_unique<JobNotifications>(store.database().location(), JobStore::channel, [this] { wake(); });
    for (int i = 0; i < settings.concurrentSolves; ++i) workers.emplace_back([this] { work(); });
    watchdog = std::thread([this] { watch(); });
    publishLength();
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
    notifications.reset();
    store.leave();
}

bool JobQueue::submit(int submission) {
    if (!store.enqueue(submission, folders.input(submission))) return false;
    wake();
    publishLength();
    return true;
}

void JobQueue::wake() {
    {
        std::lock_guard guard(lock);
        ++wakeups;
    }
    changed.notify_all();
}

bool JobQueue::cancel(int job) {
    {
        std::lock_guard guard(lock);
        const auto found = running.find(job);
        if (found != running.end()) {
            found->second.tools->stop("Cancelled");
            return true;
        }
    }
    return store.requestCancel(job);
}

bool JobQueue::isRunning(int job) const {
    std::lock_guard guard(lock);
    return running.contains(job);
}

int JobQueue::length() const {
    const std::optional<JobStore::Counts> counts = store.counts();
    return counts ? counts->waiting + counts->running : 0;
}

nlohmann::json JobQueue::status() const {
    const std::optional<JobStore::Counts> counts = store.counts();
    if (!counts) return {{"error", "the job database cannot be reached"}};
    nlohmann::json members = nlohmann::json::array();
    for (const Member& member : store.members(aliveWithinMs))
        members.push_back({{"name", member.name.toStdString()}, {"host", member.host.toStdString()},
                           {"solves", member.solves}, {"running", member.running}, {"heartbeat_age", double(member.heartbeatAgeMs) / 1000}});
    return {{"waiting", counts->waiting}, {"running", counts->running}, {"members", members}};
}

void JobQueue::publishLength() {
    if (events.lengthChanged) events.lengthChanged(length());
}

void JobQueue::work() {
    // Niceness belongs to the thread on Linux, and the tools inherit it.
    const auto thread = static_cast<id_t>(gettid());
    if (settings.solveNiceness != 0)
        setpriority(PRIO_PROCESS, thread, getpriority(PRIO_PROCESS, thread) + settings.solveNiceness);
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard guard(lock);
            if (stopping) return;
            seen = wakeups;
        }
        if (const std::optional<JobStore::Claim> claim = store.claim()) {
            if (!isRunning(claim->job)) {
                solve(claim->submission, claim->job);
                continue;
            }
            store.release(claim->job);  // its run here lost the lease and is still stopping
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        std::unique_lock guard(lock);
        changed.wait_for(guard, pollPeriod, [&] { return stopping || wakeups != seen; });
    }
}

void JobQueue::solve(int submissionId, int job) {
    QDir(folders.job(job)).removeRecursively();  // left by a store that was lost
    QDir().mkpath(folders.job(job));
    JobTools tools(folders.log(job));
    const auto limit = std::chrono::duration<double>(settings.timeLimitSeconds);
    const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
    {
        std::lock_guard guard(lock);
        running[job] = {&tools, deadline};
        if (stopping) tools.stop(JobStore::stoppedMessage);
    }
    changed.notify_all();  // the watchdog takes the new deadline
    events.log("API job " + QString::number(job) + " started (submission " + QString::number(submissionId) + ")", YELLOW);
    publishLength();
    const QString input = folders.input(submissionId);
    std::optional<Submission> submission;
    std::optional<bool> fetched = true;
    try {
        submission = store.submission(submissionId);
        if (!QFileInfo::exists(input) && store.database().postgres() && QDir().mkpath(folders.submission(submissionId)))
            fetched = store.fetchFile("input/" + QString::number(submissionId), input);
    } catch (const std::runtime_error&) {
        fetched.reset();
    }
    // The database went away since the claim: the job waits for its next turn.
    if (!fetched && store.release(job)) {
        events.log("API job " + QString::number(job) + " waits again: the job database could not be read", YELLOW);
        std::lock_guard guard(lock);
        running.erase(job);
        return;
    }
    try {
        if (!submission) throw JobFailure("The job's submission can't be read from the job database");
        if (!QFileInfo::exists(input))
            throw JobFailure("The upload's data was not stored (the server stopped while receiving it)");
        const ApiArguments arguments(nlohmann::json::parse(submission->arguments, nullptr, false));
        QStringList notes;
        SolveOptions options = solveHintOptions(arguments, settings.defaultRadius, &notes);
        for (const QString& note : notes) tools.note(note);
        // A race takes a second core; jobs solved side by side already use them.
        options.racing = settings.concurrentSolves * 2 <= int(std::thread::hardware_concurrency());
        JobSolver solver(input, folders.job(job), options, {deadline, limitText()});
        finish(job, solver.solve(arguments, tools), {});
    } catch (const JobFailure& failure) {
        tools.note(failure.message());
        finish(job, std::nullopt, failure.message());
    }
    {
        std::lock_guard guard(lock);
        running.erase(job);
    }
    publishLength();
}

// On a shared database the results go into it with the job's end, so that
// every member can serve them; a member that lost the lease writes nothing.
void JobQueue::finish(int job, const std::optional<Calibration>& calibration, const QString& error) {
    const QString name = "API job " + QString::number(job);
    if (error == takenOver) return events.log(name + ": " + takenOver, RED);  // writes nothing
    // Another member takes over what this one stops solving.
    if (error == JobStore::stoppedMessage && store.database().postgres() && store.release(job)) {
        events.log(name + " goes back to the queue: this member stops", YELLOW);
        return;
    }
    std::vector<std::pair<QString, QString>> files;
    const QString key = "job/" + QString::number(job) + "/";
    for (const QString suffix : {"wcs", "new", "corr", "rdls", "axy", "match"}) files.emplace_back(key + suffix, folders.result(job, suffix));
    files.emplace_back(key + "log", folders.log(job));
    if (!store.finishJob(job, calibration, error, files)) {
        events.log(name + ": its end could not be saved in the job database (or its lease was lost): " +
                       store.database().lastError(), RED);
        return;
    }
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
    Clock::time_point nextTend = Clock::now() + tendPeriod;
    while (!stopping) {
        Clock::time_point wake = std::min(nextExpiry, nextTend);
        for (auto& [job, run] : running) {
            if (run.deadline <= Clock::now()) {
                run.tools->stop(limitText());
                run.deadline = Clock::time_point::max();
            }
            wake = std::min(wake, run.deadline);
        }
        changed.wait_until(guard, wake);
        if (stopping) break;
        if (Clock::now() >= nextTend) {
            guard.unlock();
            tend();
            guard.lock();
            nextTend = Clock::now() + tendPeriod;
        }
        if (Clock::now() >= nextExpiry) {
            guard.unlock();
            expire();
            guard.lock();
            nextExpiry = Clock::now() + expiryPeriod;
        }
    }
}

// Renews this member's leases (stopping jobs taken over or cancelled
// elsewhere), requeues the jobs of silent members and logs the queue when it changed.
void JobQueue::tend() {
    std::vector<int> jobs;
    {
        std::lock_guard guard(lock);
        for (const auto& [job, run] : running) jobs.push_back(job);
    }
    const JobStore::Lease lease = store.renew(jobs);
    {
        std::lock_guard guard(lock);
        for (const int job : lease.lost)
            if (running.contains(job)) running[job].tools->stop(takenOver);
        for (const int job : lease.cancelled)
            if (running.contains(job)) running[job].tools->stop("Cancelled");
    }
    if (const int requeued = store.requeueExpired()) {
        events.log(QString::number(requeued) + " API job(s) of a member that stopped answering went back to the queue", YELLOW);
        wake();
    }
    store.heartbeat(host, settings.concurrentSolves);
    const nlohmann::json now = status();
    QString report;
    if (now.contains("error")) {
        report = "Job queue: " + QString::fromStdString(now["error"].get<std::string>());
    } else {
        QStringList members;
        for (const auto& member : now["members"])
            members << QString::fromStdString(member["host"].get<std::string>()) + " (" +
                           QString::number(member["solves"].get<int>()) + " solves)";
        report = "Job queue: " + QString::number(now["waiting"].get<int>()) + " waiting, " +
                 QString::number(now["running"].get<int>()) + " running; members: " + members.join(", ");
    }
    if (report != std::exchange(lastReport, report)) events.log(report, now.contains("error") ? RED : YELLOW);
}

QString JobQueue::limitText() const {
    return "Time limit of " + QString::number(settings.timeLimitSeconds) + " s reached";
}

void JobQueue::expire() {
    const auto [submissions, jobs] = store.expire(settings.retentionDays * 86400);
    for (const int id : submissions) QDir(folders.submission(id)).removeRecursively();
    for (const int id : jobs) QDir(folders.job(id)).removeRecursively();
    if (store.database().postgres()) sweepCopies();
}

// Another member may have expired what this one holds copies of.
void JobQueue::sweepCopies() {
    try {
        for (const QString& name : QDir(folders.submission(0) + "/..").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (!store.submission(name.toInt())) QDir(folders.submission(name.toInt())).removeRecursively();
        for (const QString& name : QDir(folders.job(0) + "/..").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (!store.job(name.toInt())) QDir(folders.job(name.toInt())).removeRecursively();
    } catch (const std::runtime_error&) {
        // the database went away: the next expiry sweeps
    }
}

}  // namespace siderama
