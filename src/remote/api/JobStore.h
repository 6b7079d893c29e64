#pragma once

#include "remote/api/BootMoment.h"
#include "remote/api/Calibration.h"

#include <QDateTime>
#include <QString>
#include <functional>
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
    std::optional<BootMoment> finishedAt;  // the end on the boot clock, which judges its age
    QString originalFilename;
    std::string arguments;  // the request's JSON object without its star lists
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

    // The status as clients and the database name it: "solving", ...
    static const char* text(Status status);
    static std::optional<Status> statusOf(const QString& text);
};

// The API's sessions, submissions and jobs, kept in memory for fast polling
// and written through to one SQLite file (write-ahead log, schema version in
// user_version). Ids start at 1, are never reused (AUTOINCREMENT) and stay
// below 2^31; an id is handed out only once its row is committed. Writes wait
// for another program's lock (and retry) but reads never wait for a write. A
// damaged row fails its own job with a message. Thread-safe.
class JobStore {
public:
    static constexpr int schemaVersion = 2;
    static constexpr std::size_t sessionLimit = 10000;  // the least recently used go beyond it
    static constexpr qint64 sessionLifetimeSeconds = 24 * 3600;  // since the last use
    // Why a job ended that its server stopped, or a crash cut.
    static const QString stoppedMessage;

    // Opens, migrates or creates `path`; throws std::runtime_error when it cannot.
    explicit JobStore(const QString& path);
    ~JobStore();
    JobStore(const JobStore&) = delete;
    JobStore& operator=(const JobStore&) = delete;

    // False when the session could not be stored.
    bool addSession(const QString& key);
    // Whether the session is known and unexpired; counts as a use (which
    // reaches the file with the next expire()).
    bool useSession(const QString& key);

    // The new submission's id; none when the ids are used up or the write failed.
    std::optional<int> addSubmission(const Submission& submission);
    // Forgets a submission whose data could not be kept (its id stays used).
    void removeSubmission(int id);
    // Creates the submission's job, status solving; none when it cannot.
    std::optional<int> startJob(int submission);
    // Ends a solving job: success with a calibration, else failure with
    // `error`. Clients see the end at once; false when it could not be saved.
    bool finishJob(int job, const std::optional<Calibration>& calibration, const QString& error);

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
    // Removes submissions finished `retentionSeconds` ago or longer, and
    // sessions unused for their lifetime; returns the submissions' ids and
    // their jobs' ids. An age is judged on the boot clock when the job ended
    // in this boot, so that a step of the wall clock cannot shorten it.
    std::pair<std::vector<int>, std::vector<int>> expire(double retentionSeconds);

private:
    void migrate(int found, const QString& path);
    void load();
    void loadJobs();
    bool exec(const char* sql);
    // Runs `steps` in one write transaction, retried while another
    // connection holds the lock; false when it could not be committed.
    bool transaction(const std::function<bool()>& steps, int attempts);
    bool writeSubmission(const Submission& submission);
    bool writeJob(const Job& job);
    std::optional<int> nextId(const char* table);

    mutable std::mutex lock;  // the maps
    std::mutex writeLock;     // the database connection
    sqlite3* db = nullptr;
    std::map<QString, QDateTime> sessions;  // key -> last use
    std::set<QString> touched;              // used since the file was told
    std::map<int, Submission> submissions;
    std::map<int, Job> jobs;
};

}  // namespace siderama
