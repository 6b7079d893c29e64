#pragma once

#include "remote/api/Calibration.h"

#include <QDateTime>
#include <QString>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

struct sqlite3;

namespace siderama {

// One upload: what the client sent and how far its solve has come.
struct Submission {
    int id = 0;
    QString session;
    QString address;  // the client's, as the server saw it
    QDateTime created;
    std::optional<QDateTime> started, finished;
    QString originalFilename;
    std::string arguments;  // the request's JSON object
    QString hash;           // SHA-1 of the data
    QString error;          // why the job failed; empty otherwise
    std::optional<int> job;
};

struct Job {
    enum class Status { solving, success, failure };
    int id = 0;
    int submission = 0;
    Status status = Status::solving;
    std::optional<Calibration> calibration;  // exactly when status is success
};

// The API's sessions, submissions and jobs, kept in memory for fast polling
// and written through to one SQLite file (write-ahead log, schema version in
// user_version). Ids start at 1, are never reused (AUTOINCREMENT) and stay
// below 2^31. Thread-safe.
class JobStore {
public:
    static constexpr int schemaVersion = 1;

    // Opens or creates `path`; throws std::runtime_error when it cannot.
    explicit JobStore(const QString& path);
    ~JobStore();
    JobStore(const JobStore&) = delete;
    JobStore& operator=(const JobStore&) = delete;

    void addSession(const QString& key);
    bool hasSession(const QString& key) const;

    // The new submission's id; none when the ids are used up or the write failed.
    std::optional<int> addSubmission(const Submission& submission);
    // Creates the submission's job, status solving; none when it cannot.
    std::optional<int> startJob(int submission);
    // Ends a solving job: success with a calibration, else failure with `error`.
    void finishJob(int job, const std::optional<Calibration>& calibration, const QString& error);

    std::optional<Submission> submission(int id) const;
    std::optional<Job> job(int id) const;
    // A submission and its job, read in one step.
    std::optional<std::pair<Submission, std::optional<Job>>> snapshot(int submission) const;
    std::vector<int> jobsOfSession(const QString& session) const;
    // Submissions created or finished since `since`, or not finished, with
    // their jobs, newest first.
    std::vector<std::pair<Submission, std::optional<Job>>> recent(const QDateTime& since) const;

    // After a restart: jobs left solving become failures ("Siderama stopped
    // during the solve"); returns the submissions still waiting for a job.
    std::vector<int> recover();
    // Removes submissions finished before `cutoff`; returns their ids and
    // their jobs' ids.
    std::pair<std::vector<int>, std::vector<int>> expire(const QDateTime& cutoff);

private:
    void load();
    // Runs statements; false (the change is then kept in memory only) on failure.
    bool exec(const char* sql);
    void writeSubmission(const Submission& submission);
    void writeJob(const Job& job);
    std::optional<int> nextId(const char* table);

    mutable std::mutex lock;
    sqlite3* db = nullptr;
    std::set<QString> sessions;
    std::map<int, Submission> submissions;
    std::map<int, Job> jobs;
};

}  // namespace siderama
