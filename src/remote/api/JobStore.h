#pragma once

#include "remote/api/BootMoment.h"
#include "remote/api/Calibration.h"
#include "remote/api/JobDatabase.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

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

// A member of the service: a process that serves the API, solves, or both.
struct Member {
    QString name, host;
    int solves = 0, running = 0;
    qint64 heartbeatAgeMs = 0;  // on the database's clock
};

// The API's sessions, submissions, jobs, members and files in one database,
// SQLite or PostgreSQL, which is the only copy: every read asks it, every
// write is checked. The rows are the queue: a member claims the next waiting
// submission in turn across clients (sessions, else addresses) and holds its
// job under a lease it renews; a job whose lease ran out goes back to the
// queue, at most twice. Ids start at 1, are never reused and stay below 2^31.
// A damaged row fails its own job with a message. Thread-safe.
class JobStore {
public:
    static constexpr int schemaVersion = 3;
    static constexpr int sessionLimit = 10000;  // the least recently used go beyond it
    static constexpr qint64 sessionLifetimeSeconds = 24 * 3600;  // since the last use
    static constexpr qint64 defaultLeaseMs = 20000;
    static constexpr int claimLimit = 3;  // a job's solves begun, the first included
    // Why a job ended that its server stopped, or a crash cut.
    static const QString stoppedMessage;
    static const QString damagedMessage;
    // The notification channel of new and requeued work.
    static constexpr const char* channel = "siderama_jobs";

    struct Claim {
        int submission = 0, job = 0;
    };
    struct Lease {
        std::vector<int> lost, cancelled;
    };
    struct Counts {
        int waiting = 0, running = 0;
    };

    // Opens, migrates or creates the database; `member` names this process
    // in leases, which last `leaseMs` unless renewed. Throws std::runtime_error when it cannot.
    explicit JobStore(const JobDatabaseLocation& location, QString member = {}, qint64 leaseMs = defaultLeaseMs);
    explicit JobStore(const QString& sqlitePath) : JobStore(JobDatabaseLocation::parse({}, sqlitePath)) {}

    JobDatabase& database() { return db; }
    const QString& member() const { return memberName; }

    // False when the session could not be stored.
    bool addSession(const QString& key);
    // Whether the session is known and unexpired; counts as a use.
    bool useSession(const QString& key);

    // The new submission's id, waiting in the queue; none when the ids are
    // used up or the write failed.
    std::optional<int> addSubmission(const Submission& submission);
    // Puts a stored submission in the queue, its input (at `input`) copied into
    // a shared database first; false when it could not be.
    bool enqueue(int submission, const QString& input);
    // Forgets a submission whose data could not be kept (its id stays used).
    void removeSubmission(int id);
    // Starts the submission's job under this member's lease; none when it cannot.
    std::optional<int> startJob(int submission);
    // Takes the next waiting submission in fair turn and starts its job under this member's lease.
    std::optional<Claim> claim();
    // Ends a job this member holds: success with a calibration, else failure
    // with `error`; `files` (name, path) go into the database first when it
    // is shared. False when the lease was lost or it could not be saved.
    bool finishJob(int job, const std::optional<Calibration>& calibration, const QString& error,
                   const std::vector<std::pair<QString, QString>>& files = {});
    // Hands a job this member holds back to the queue, as if never begun.
    bool release(int job);
    // Renews this member's leases on `jobs`; tells which were taken over or cancelled.
    Lease renew(const std::vector<int>& jobs);
    // Puts jobs whose lease ran out back in the queue, or fails them after the
    // last try; returns how many went back.
    int requeueExpired();
    // Asks the member running the job to stop it; a job back in the queue ends at once.
    bool requestCancel(int job);

    // Reads throw std::runtime_error when the database cannot be read: a
    // client then gets an error, never "no such job".
    std::optional<Submission> submission(int id) const;
    std::optional<Job> job(int id) const;
    // A submission and its job, read in one step.
    std::optional<std::pair<Submission, std::optional<Job>>> snapshot(int submission) const;
    std::vector<int> jobsOfSession(const QString& session) const;
    // Submissions created or finished since `since`, or not finished, with
    // their jobs, newest first (at most `limit`).
    std::vector<std::pair<Submission, std::optional<Job>>> recent(const QDateTime& since, int limit = 1000) const;
    // Waiting and running jobs; none when the database cannot be read.
    std::optional<Counts> counts() const;

    // A member's sign of life; false when it could not be written.
    bool heartbeat(const QString& host, int solves);
    void leave();
    // The members heard from within `withinMs`.
    std::vector<Member> members(qint64 withinMs) const;

    // Files kept in the database, in chunks (only needed when it is shared).
    bool putFile(QSqlDatabase& connection, const QString& name, const QString& path);
    // Writes the named file to `path`; false when it is not kept or cannot be
    // written, none when the database cannot be read.
    std::optional<bool> fetchFile(const QString& name, const QString& path);

    // After a restart of the only member (SQLite): jobs left solving become
    // failures ("Siderama stopped during the solve"); returns the waiting submissions.
    std::vector<int> recover();
    // Removes submissions finished `retentionSeconds` ago or longer, and
    // sessions unused for their lifetime; returns the submissions' ids and
    // their jobs' ids. An age is judged on the boot clock when the job ended
    // in this boot, so that a step of the wall clock cannot shorten it.
    std::pair<std::vector<int>, std::vector<int>> expire(double retentionSeconds);

private:
    void migrate();
    void readOrThrow(const std::function<bool(QSqlDatabase&)>& steps) const;
    std::optional<Claim> start(QSqlDatabase& connection, int submission);
    bool end(QSqlDatabase& connection, int job, const std::optional<Calibration>& calibration, const QString& error);

    mutable JobDatabase db;
    QString memberName;
    qint64 leaseMs;
};

}  // namespace siderama
