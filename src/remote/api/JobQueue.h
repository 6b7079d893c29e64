#pragma once

#include "core/Constants.h"
#include "remote/api/ApiSettings.h"
#include "remote/api/Calibration.h"
#include "remote/api/JobFolders.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace siderama {

class JobNotifications;
class JobStore;
class JobTools;

// This member's share of the service's queue, which lives in the job store:
// up to `concurrentSolves` workers claim waiting jobs in fair turn (0: serve
// only), each under a wall-clock limit and a lease the watchdog renews. The
// watchdog also stops jobs at their limit, puts jobs of silent members back
// in the queue, tells the others this member is alive and removes results
// older than the retention time. Workers wake when work arrives: at once on
// this member, through the database's notifications from the others.
// Destroying the queue stops the running jobs: on a shared database they go
// back to the queue, else (SQLite) they end as failures, as do jobs a crash
// left solving (found at the next start).
class JobQueue {
public:
    struct Events {
        std::function<void(const QString&, LogColor)> log;
        std::function<void(int)> lengthChanged;  // waiting plus running jobs
    };

    JobQueue(JobStore& store, JobFolders folders, ApiSettings settings, Events events);
    ~JobQueue();
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    // Queues a stored submission whose input is in place; false when it could not be.
    bool submit(int submission);
    // Stops a job wherever it runs; it ends as a failure. False when the
    // request could not be stored (a job no longer solving needs none).
    bool cancel(int job);
    int length() const;
    // Waiting and running jobs and the live members, as /api/status tells them.
    nlohmann::json status() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Running {
        JobTools* tools;
        Clock::time_point deadline;
    };

    void work();
    bool isRunning(int job) const;
    void solve(int submission, int job);
    void watch();
    void tend();
    void expire();
    void sweepCopies();
    void wake();
    void publishLength();
    QString limitText() const;
    void finish(int job, const std::optional<Calibration>& calibration, const QString& error);

    JobStore& store;
    JobFolders folders;
    ApiSettings settings;
    Events events;
    QString host;

    mutable std::mutex lock;
    std::condition_variable changed;
    std::uint64_t wakeups = 0;
    std::map<int, Running> running;
    bool stopping = false;
    std::vector<std::thread> workers;
    std::thread watchdog;
    std::unique_ptr<JobNotifications> notifications;
    QString lastReport;
};

}  // namespace siderama
