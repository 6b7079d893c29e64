#pragma once

#include "core/Constants.h"
#include "remote/api/ApiSettings.h"
#include "remote/api/Calibration.h"
#include "remote/api/JobFolders.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace siderama {

class JobStore;
class JobTools;

// Solves API submissions first come, first served, with a configurable
// number of solves at a time, each under a wall-clock limit. A watchdog
// thread stops jobs at their limit and removes results older than the
// retention time. Destroying the queue stops the running jobs; they end as
// failures, as do jobs a crash left solving (found at the next start).
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

    void submit(int submission);
    // Stops a solving job, which ends as a failure; false when it is not solving.
    bool cancel(int job);
    int length() const;
    // The submissions waiting and the jobs running, in queue order.
    struct Load {
        std::vector<int> waiting, running;
        int solvesAtATime = 1;
    };
    Load load() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Running {
        JobTools* tools;
        Clock::time_point deadline;
    };

    void work();
    void solve(int submission);
    // Puts a submission whose job could not be started back in line after a pause.
    void retryLater(int submission);
    void watch();
    void expire();
    void publishLength();
    QString limitText() const;
    void finish(int job, const std::optional<Calibration>& calibration, const QString& error);

    JobStore& store;
    JobFolders folders;
    ApiSettings settings;
    Events events;

    mutable std::mutex lock;
    std::condition_variable changed;
    std::deque<int> waiting;
    std::map<int, Running> running;
    std::set<int> cancelled;  // before their tools started
    bool stopping = false;
    std::vector<std::thread> workers;
    std::thread watchdog;
};

}  // namespace siderama
