#include "remote/api/JobStore.h"

#include <QFile>
#include <sqlite3.h>

#include <climits>
#include <stdexcept>

namespace siderama {

namespace {

constexpr const char* schema = R"(
CREATE TABLE IF NOT EXISTS sessions(key TEXT PRIMARY KEY, used TEXT);
CREATE TABLE IF NOT EXISTS submissions(id INTEGER PRIMARY KEY AUTOINCREMENT, session TEXT, created TEXT,
    started TEXT, finished TEXT, filename TEXT, arguments TEXT, hash TEXT, error TEXT, job INTEGER, address TEXT,
    finished_at TEXT);
CREATE TABLE IF NOT EXISTS jobs(id INTEGER PRIMARY KEY AUTOINCREMENT, submission INTEGER, status TEXT,
    calibration TEXT);
)";

// Version 1 kept the status as a number, the star lists in the arguments
// and no session times or client addresses.
constexpr const char* fromVersion1 = R"(
ALTER TABLE sessions ADD COLUMN used TEXT;
ALTER TABLE submissions ADD COLUMN address TEXT;
ALTER TABLE submissions ADD COLUMN finished_at TEXT;
UPDATE jobs SET status = CASE status WHEN 0 THEN 'solving' WHEN 1 THEN 'success' WHEN 2 THEN 'failure' ELSE status END;
UPDATE submissions SET arguments = json_remove(arguments, '$.x', '$.y') WHERE json_valid(arguments);
)";

const QString damagedMessage = "The job's stored record is damaged";
constexpr int submissionAttempts = 6;  // each waits up to the busy timeout
constexpr int finishAttempts = 120;
constexpr int busyTimeoutMs = 5000;

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
        const QDateTime time = QDateTime::fromString(text(column), Qt::ISODateWithMs);
        return time.isValid() ? std::optional(time) : std::nullopt;
    }

private:
    sqlite3_stmt* handle = nullptr;
    int count = 0;
};

QDateTime now() { return QDateTime::currentDateTimeUtc(); }

std::optional<Calibration> calibrationOf(const QString& text) {
    const nlohmann::json object = nlohmann::json::parse(text.toStdString(), nullptr, false);
    if (!object.is_object()) return std::nullopt;
    try {
        return Calibration::fromJson(object);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

}  // namespace

const QString JobStore::stoppedMessage = "Siderama stopped during the solve";

const char* Job::text(Status status) {
    switch (status) {
    case Status::success: return "success";
    case Status::failure: return "failure";
    case Status::solving: break;
    }
    return "solving";
}

std::optional<Job::Status> Job::statusOf(const QString& text) {
    for (const Status status : {Status::solving, Status::success, Status::failure})
        if (text == Job::text(status)) return status;
    return std::nullopt;
}

JobStore::JobStore(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (sqlite3_open(name.constData(), &db) != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw std::runtime_error("Can't open " + path.toStdString() + ": " + message);
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);
    int found = -1;
    {
        Statement version(db, "PRAGMA user_version");
        if (version.step()) found = version.integer(0);
    }
    try {
        migrate(found, path);
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    load();
}

JobStore::~JobStore() { sqlite3_close(db); }

void JobStore::migrate(int found, const QString& path) {
    const auto fail = [&](const std::string& why) { throw std::runtime_error("Can't use " + path.toStdString() + ": " + why); };
    if (found > schemaVersion) fail("it was written by a newer version of Siderama");
    if (found < 0 || !exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;")) fail(sqlite3_errmsg(db));
    if (found == schemaVersion) return;
    const bool done = transaction([&] {
        return (found != 1 || exec(fromVersion1)) && exec(schema) &&
               exec(("PRAGMA user_version=" + std::to_string(schemaVersion)).c_str());
    }, submissionAttempts);
    if (!done) fail(sqlite3_errmsg(db));
}

bool JobStore::exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool JobStore::transaction(const std::function<bool()>& steps, int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        std::lock_guard guard(writeLock);
        if (exec("BEGIN IMMEDIATE")) {
            if (steps() && exec("COMMIT")) return true;
            const int code = sqlite3_errcode(db);
            exec("ROLLBACK");
            if (code != SQLITE_BUSY && code != SQLITE_LOCKED) return false;
        } else if (sqlite3_errcode(db) != SQLITE_BUSY) {
            return false;
        }
    }
    return false;
}

void JobStore::load() {
    const QDateTime sessionCutoff = now().addSecs(-sessionLifetimeSeconds);
    for (Statement rows(db, "SELECT key, used FROM sessions"); rows.step();) {
        const QDateTime used = rows.time(1).value_or(now());
        if (used >= sessionCutoff) sessions[rows.text(0)] = used;
    }
    Statement subs(db, "SELECT id, session, created, started, finished, filename, arguments, hash, error, job, "
                       "address, finished_at FROM submissions");
    while (subs.step()) {
        Submission s{subs.integer(0), subs.text(1), subs.text(10), subs.time(2).value_or(now()), subs.time(3),
                     subs.time(4), std::nullopt, subs.text(5), subs.text(6).toStdString(), subs.text(7), subs.text(8), std::nullopt};
        if (!subs.isNull(9)) s.job = subs.integer(9);
        s.finishedAt = BootMoment::fromText(subs.text(11));
        submissions[s.id] = s;
    }
    loadJobs();
}

// A job whose row is missing or unreadable ends as a failure of its own.
void JobStore::loadJobs() {
    for (Statement rows(db, "SELECT id, submission, status, calibration FROM jobs"); rows.step();) {
        Job job{rows.integer(0), rows.integer(1), Job::Status::failure, std::nullopt};
        const std::optional<Job::Status> status = Job::statusOf(rows.text(2));
        if (!rows.isNull(3)) job.calibration = calibrationOf(rows.text(3));
        if (status && (*status != Job::Status::success || job.calibration)) job.status = *status;
        if (job.status != Job::Status::success) job.calibration.reset();
        const auto owner = submissions.find(job.submission);
        if (owner == submissions.end()) continue;
        if (!status || *status != job.status) owner->second.error = damagedMessage;
        jobs[job.id] = job;
    }
    for (auto& [id, submission] : submissions) {
        if (submission.job && !jobs.contains(*submission.job)) {
            jobs[*submission.job] = Job{*submission.job, id, Job::Status::failure, std::nullopt};
            submission.error = damagedMessage;
        }
        if (submission.job && !submission.finished && jobs[*submission.job].status == Job::Status::failure &&
            submission.error == damagedMessage)
            submission.finished = now();
    }
}

// Beyond the limit the least recently used session goes, from the file too.
bool JobStore::addSession(const QString& key) {
    const QDateTime used = now();
    std::optional<QString> oldest;
    {
        std::lock_guard guard(lock);
        const auto found = std::min_element(sessions.begin(), sessions.end(),
                                            [](const auto& a, const auto& b) { return a.second < b.second; });
        if (sessions.size() >= sessionLimit) oldest = found->first;
    }
    const bool saved = transaction([&] {
        return Statement(db, "INSERT OR REPLACE INTO sessions(key, used) VALUES(?, ?)").bind(key).bind(used).run() &&
               (!oldest || Statement(db, "DELETE FROM sessions WHERE key=?").bind(*oldest).run());
    }, submissionAttempts);
    if (!saved) return false;
    std::lock_guard guard(lock);
    if (oldest) sessions.erase(*oldest);
    sessions[key] = used;
    return true;
}

// Uses reach the file with the next expiry, so that polls never write.
bool JobStore::useSession(const QString& key) {
    const QDateTime used = now();
    std::lock_guard guard(lock);
    const auto found = sessions.find(key);
    if (found == sessions.end() || found->second < used.addSecs(-sessionLifetimeSeconds)) return false;
    found->second = used;
    touched.insert(key);
    return true;
}

// Inserts an empty row to draw the table's next id; ids of 2^31 - 1 and
// beyond are never handed out.
std::optional<int> JobStore::nextId(const char* table) {
    if (!Statement(db, (std::string("INSERT INTO ") + table + " DEFAULT VALUES").c_str()).run()) return std::nullopt;
    const sqlite3_int64 id = sqlite3_last_insert_rowid(db);
    if (id < INT_MAX) return int(id);
    return std::nullopt;
}

bool JobStore::writeSubmission(const Submission& s) {
    return Statement(db, "UPDATE submissions SET session=?, created=?, started=?, finished=?, filename=?, "
                         "arguments=?, hash=?, error=?, job=?, address=?, finished_at=? WHERE id=?")
        .bind(s.session).bind(s.created).bind(s.started).bind(s.finished).bind(s.originalFilename)
        .bind(QString::fromStdString(s.arguments)).bind(s.hash).bind(s.error).bind(s.job).bind(s.address)
        .bind(s.finishedAt ? s.finishedAt->text() : QString()).bind(s.id)
        .run();
}

bool JobStore::writeJob(const Job& job) {
    Statement statement(db, "UPDATE jobs SET submission=?, status=?, calibration=? WHERE id=?");
    statement.bind(job.submission).bind(QString(Job::text(job.status)));
    if (job.calibration) statement.bind(QString::fromStdString(job.calibration->toJson().dump()));
    else statement.bind(std::optional<int>());
    return statement.bind(job.id).run();
}

std::optional<int> JobStore::addSubmission(const Submission& submission) {
    Submission stored = submission;
    const bool saved = transaction([&] {
        const std::optional<int> id = nextId("submissions");
        stored.id = id.value_or(0);
        return id && writeSubmission(stored);
    }, submissionAttempts);
    if (!saved) return std::nullopt;
    std::lock_guard guard(lock);
    submissions[stored.id] = stored;
    return stored.id;
}

void JobStore::removeSubmission(int id) {
    transaction([&] { return Statement(db, "DELETE FROM submissions WHERE id=?").bind(id).run(); }, submissionAttempts);
    std::lock_guard guard(lock);
    submissions.erase(id);
}

std::optional<int> JobStore::startJob(int submissionId) {
    std::optional<Submission> submission = this->submission(submissionId);
    if (!submission) return std::nullopt;
    Job job{0, submissionId, Job::Status::solving, std::nullopt};
    submission->started = now();
    const bool saved = transaction([&] {
        const std::optional<int> id = nextId("jobs");
        job.id = id.value_or(0);
        submission->job = id;
        return id && writeJob(job) && writeSubmission(*submission);
    }, submissionAttempts);
    if (!saved) return std::nullopt;
    std::lock_guard guard(lock);
    jobs[job.id] = job;
    submissions[submissionId] = *submission;
    return job.id;
}

bool JobStore::finishJob(int id, const std::optional<Calibration>& calibration, const QString& error) {
    Job job;
    Submission submission;
    {
        std::lock_guard guard(lock);
        const auto found = jobs.find(id);
        if (found == jobs.end() || found->second.status != Job::Status::solving) return false;
        const auto owner = submissions.find(found->second.submission);
        if (owner == submissions.end()) return false;
        found->second.status = calibration ? Job::Status::success : Job::Status::failure;
        found->second.calibration = calibration;
        owner->second.finished = now();
        owner->second.finishedAt = BootMoment::now();
        owner->second.error = calibration ? QString() : error;
        job = found->second;
        submission = owner->second;
    }
    return transaction([&] { return writeJob(job) && writeSubmission(submission); }, finishAttempts);
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
    const auto job = submission.job ? jobs.find(*submission.job) : jobs.end();
    return std::pair{submission, job == jobs.end() ? std::nullopt : std::optional(job->second)};
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
    for (const int id : solving) finishJob(id, std::nullopt, stoppedMessage);
    return waiting;
}

std::pair<std::vector<int>, std::vector<int>> JobStore::expire(double retentionSeconds) {
    std::vector<int> gone, goneJobs;
    std::vector<std::pair<QString, QDateTime>> uses;
    const BootMoment clock = BootMoment::now();
    const QDateTime wallClock = now();
    {
        std::lock_guard guard(lock);
        for (const QString& key : std::exchange(touched, {}))
            if (const auto found = sessions.find(key); found != sessions.end()) uses.emplace_back(key, found->second);
        for (const auto& [id, submission] : submissions) {
            if (!submission.finished) continue;
            const std::optional<double> age = submission.finishedAt ? submission.finishedAt->secondsUntil(clock) : std::nullopt;
            if (age.value_or(double(submission.finished->secsTo(wallClock))) < retentionSeconds) continue;
            gone.push_back(id);
            if (submission.job) goneJobs.push_back(*submission.job);
        }
        const QDateTime sessionCutoff = now().addSecs(-sessionLifetimeSeconds);
        std::erase_if(sessions, [&](const auto& session) { return session.second < sessionCutoff; });
    }
    const bool saved = transaction([&] {
        bool ok = true;
        for (const auto& [key, used] : uses)
            ok = ok && Statement(db, "UPDATE sessions SET used=? WHERE key=?").bind(used).bind(key).run();
        ok = ok && Statement(db, "DELETE FROM sessions WHERE used < ?").bind(now().addSecs(-sessionLifetimeSeconds)).run();
        for (const int id : goneJobs) ok = ok && Statement(db, "DELETE FROM jobs WHERE id=?").bind(id).run();
        for (const int id : gone) ok = ok && Statement(db, "DELETE FROM submissions WHERE id=?").bind(id).run();
        return ok;
    }, submissionAttempts);
    if (!saved) return {};
    std::lock_guard guard(lock);
    for (const int id : goneJobs) jobs.erase(id);
    for (const int id : gone) submissions.erase(id);
    return {gone, goneJobs};
}

}  // namespace siderama
