#include "remote/api/JobStore.h"

#include <QFile>
#include <sqlite3.h>

#include <climits>
#include <stdexcept>

namespace siderama {

namespace {

constexpr const char* schema = R"(
CREATE TABLE IF NOT EXISTS sessions(key TEXT PRIMARY KEY);
CREATE TABLE IF NOT EXISTS submissions(id INTEGER PRIMARY KEY AUTOINCREMENT, session TEXT, created TEXT,
    started TEXT, finished TEXT, filename TEXT, arguments TEXT, hash TEXT, error TEXT, job INTEGER);
CREATE TABLE IF NOT EXISTS jobs(id INTEGER PRIMARY KEY AUTOINCREMENT, submission INTEGER, status INTEGER,
    calibration TEXT);
)";

const QString restartMessage = "Siderama stopped during the solve";

// A prepared statement whose parameters are bound in order.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &handle, nullptr); }
    ~Statement() { sqlite3_finalize(handle); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(handle, ++count, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(const std::optional<QDateTime>& time) {
        if (time) return bind(time->toString(Qt::ISODateWithMs));
        sqlite3_bind_null(handle, ++count);
        return *this;
    }
    Statement& bind(std::optional<int> number) {
        if (number) sqlite3_bind_int64(handle, ++count, *number);
        else sqlite3_bind_null(handle, ++count);
        return *this;
    }
    bool step() { return sqlite3_step(handle) == SQLITE_ROW; }
    bool run() { return sqlite3_step(handle) == SQLITE_DONE; }
    int integer(int column) const { return sqlite3_column_int(handle, column); }
    bool isNull(int column) const { return sqlite3_column_type(handle, column) == SQLITE_NULL; }
    QString text(int column) const {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(handle, column)));
    }
    std::optional<QDateTime> time(int column) const {
        if (isNull(column)) return std::nullopt;
        return QDateTime::fromString(text(column), Qt::ISODateWithMs);
    }

private:
    sqlite3_stmt* handle = nullptr;
    int count = 0;
};

}  // namespace

JobStore::JobStore(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (sqlite3_open(name.constData(), &db) != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw std::runtime_error("Can't open " + path.toStdString() + ": " + message);
    }
    sqlite3_busy_timeout(db, 5000);
    int found = 0;
    {
        Statement version(db, "PRAGMA user_version");
        found = version.step() ? version.integer(0) : 0;
    }
    const bool ready = found <= schemaVersion && exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;") &&
                       exec(schema) && exec(("PRAGMA user_version=" + std::to_string(schemaVersion)).c_str());
    if (!ready) {
        const std::string message = found > schemaVersion ? "written by a newer Siderama" : sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error("Can't use " + path.toStdString() + ": " + message);
    }
    load();
}

JobStore::~JobStore() { sqlite3_close(db); }

bool JobStore::exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

void JobStore::load() {
    for (Statement rows(db, "SELECT key FROM sessions"); rows.step();) sessions.insert(rows.text(0));
    Statement subs(db, "SELECT id, session, created, started, finished, filename, arguments, hash, error, job "
                       "FROM submissions");
    while (subs.step()) {
        Submission s{subs.integer(0), subs.text(1), {}, *subs.time(2), subs.time(3), subs.time(4), subs.text(5),
                     subs.text(6).toStdString(), subs.text(7), subs.text(8), std::nullopt};
        if (!subs.isNull(9)) s.job = subs.integer(9);
        submissions[s.id] = s;
    }
    for (Statement rows(db, "SELECT id, submission, status, calibration FROM jobs"); rows.step();) {
        Job job{rows.integer(0), rows.integer(1), Job::Status(rows.integer(2)), std::nullopt};
        if (!rows.isNull(3)) job.calibration = Calibration::fromJson(nlohmann::json::parse(rows.text(3).toStdString()));
        jobs[job.id] = job;
    }
}

void JobStore::addSession(const QString& key) {
    std::lock_guard guard(lock);
    if (!sessions.insert(key).second) return;
    Statement(db, "INSERT OR IGNORE INTO sessions(key) VALUES(?)").bind(key).run();
}

bool JobStore::hasSession(const QString& key) const {
    std::lock_guard guard(lock);
    return sessions.contains(key);
}

// Inserts an empty row to draw the table's next id; ids of 2^31 - 1 and
// beyond are never handed out.
std::optional<int> JobStore::nextId(const char* table) {
    if (!Statement(db, (std::string("INSERT INTO ") + table + " DEFAULT VALUES").c_str()).run()) return std::nullopt;
    const sqlite3_int64 id = sqlite3_last_insert_rowid(db);
    if (id < INT_MAX) return int(id);
    exec((std::string("DELETE FROM ") + table + " WHERE id=" + std::to_string(id)).c_str());
    return std::nullopt;
}

void JobStore::writeSubmission(const Submission& s) {
    Statement(db, "UPDATE submissions SET session=?, created=?, started=?, finished=?, filename=?, arguments=?, "
                  "hash=?, error=?, job=? WHERE id=?")
        .bind(s.session).bind(s.created).bind(s.started).bind(s.finished).bind(s.originalFilename)
        .bind(QString::fromStdString(s.arguments)).bind(s.hash).bind(s.error).bind(s.job).bind(s.id).run();
}

void JobStore::writeJob(const Job& job) {
    Statement statement(db, "UPDATE jobs SET submission=?, status=?, calibration=? WHERE id=?");
    statement.bind(job.submission).bind(int(job.status));
    if (job.calibration) statement.bind(QString::fromStdString(job.calibration->toJson().dump()));
    else statement.bind(std::optional<int>());
    statement.bind(job.id).run();
}

std::optional<int> JobStore::addSubmission(const Submission& submission) {
    std::lock_guard guard(lock);
    exec("BEGIN");
    const std::optional<int> id = nextId("submissions");
    if (id) {
        Submission& stored = submissions[*id] = submission;
        stored.id = *id;
        writeSubmission(stored);
    }
    exec("COMMIT");
    return id;
}

std::optional<int> JobStore::startJob(int submission) {
    std::lock_guard guard(lock);
    const auto found = submissions.find(submission);
    if (found == submissions.end()) return std::nullopt;
    exec("BEGIN");
    const std::optional<int> id = nextId("jobs");
    if (id) {
        jobs[*id] = Job{*id, submission, Job::Status::solving, std::nullopt};
        found->second.job = id;
        found->second.started = QDateTime::currentDateTimeUtc();
        writeJob(jobs[*id]);
        writeSubmission(found->second);
    }
    exec("COMMIT");
    return id;
}

void JobStore::finishJob(int id, const std::optional<Calibration>& calibration, const QString& error) {
    std::lock_guard guard(lock);
    const auto found = jobs.find(id);
    if (found == jobs.end() || found->second.status != Job::Status::solving) return;
    const auto owner = submissions.find(found->second.submission);
    if (owner == submissions.end()) return;
    Job& job = found->second;
    Submission& submission = owner->second;
    job.status = calibration ? Job::Status::success : Job::Status::failure;
    job.calibration = calibration;
    submission.finished = QDateTime::currentDateTimeUtc();
    submission.error = calibration ? QString() : error;
    exec("BEGIN");
    writeJob(job);
    writeSubmission(submission);
    exec("COMMIT");
}

std::optional<Submission> JobStore::submission(int id) const {
    std::lock_guard guard(lock);
    const auto found = submissions.find(id);
    if (found == submissions.end()) return std::nullopt;
    return found->second;
}

std::optional<Job> JobStore::job(int id) const {
    std::lock_guard guard(lock);
    const auto found = jobs.find(id);
    if (found == jobs.end()) return std::nullopt;
    return found->second;
}

std::optional<std::pair<Submission, std::optional<Job>>> JobStore::snapshot(int id) const {
    std::lock_guard guard(lock);
    const auto found = submissions.find(id);
    if (found == submissions.end()) return std::nullopt;
    const Submission& submission = found->second;
    return std::pair{submission, submission.job ? std::optional(jobs.at(*submission.job)) : std::nullopt};
}

std::vector<int> JobStore::jobsOfSession(const QString& session) const {
    std::lock_guard guard(lock);
    std::vector<int> ids;
    for (const auto& [id, submission] : submissions)
        if (submission.session == session && submission.job) ids.push_back(*submission.job);
    return ids;
}

std::vector<std::pair<Submission, std::optional<Job>>> JobStore::recent(const QDateTime& since) const {
    std::lock_guard guard(lock);
    std::vector<std::pair<Submission, std::optional<Job>>> found;
    for (auto entry = submissions.rbegin(); entry != submissions.rend(); ++entry) {
        const Submission& submission = entry->second;
        if (submission.finished && *submission.finished < since && submission.created < since) continue;
        const auto job = submission.job ? jobs.find(*submission.job) : jobs.end();
        found.emplace_back(submission, job == jobs.end() ? std::nullopt : std::optional<Job>(job->second));
    }
    return found;
}

std::vector<int> JobStore::recover() {
    std::vector<int> solving, waiting;
    {
        std::lock_guard guard(lock);
        for (const auto& [id, job] : jobs)
            if (job.status == Job::Status::solving) solving.push_back(id);
        for (const auto& [id, submission] : submissions)
            if (!submission.job) waiting.push_back(id);
    }
    for (const int id : solving) finishJob(id, std::nullopt, restartMessage);
    return waiting;
}

std::pair<std::vector<int>, std::vector<int>> JobStore::expire(const QDateTime& cutoff) {
    std::lock_guard guard(lock);
    std::vector<int> gone, goneJobs;
    for (const auto& [id, submission] : submissions)
        if (submission.finished && *submission.finished < cutoff) gone.push_back(id);
    exec("BEGIN");
    for (const int id : gone) {
        if (const auto job = submissions[id].job) {
            goneJobs.push_back(*job);
            jobs.erase(*job);
            Statement(db, "DELETE FROM jobs WHERE id=?").bind(*job).run();
        }
        submissions.erase(id);
        Statement(db, "DELETE FROM submissions WHERE id=?").bind(id).run();
    }
    exec("COMMIT");
    return {gone, goneJobs};
}

}  // namespace siderama
