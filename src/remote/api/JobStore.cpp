#include "remote/api/JobStore.h"

#include <QFile>
#include <QSysInfo>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlRecord>
#include <QUuid>

#include <climits>
#include <stdexcept>

namespace siderama {

namespace {

const QStringList schema = {
    "CREATE TABLE IF NOT EXISTS sessions(key TEXT PRIMARY KEY, used TEXT)",
    "CREATE TABLE IF NOT EXISTS submissions(id %ID%, session TEXT, created TEXT, started TEXT, finished TEXT, "
    "filename TEXT, arguments TEXT, hash TEXT, error TEXT, job INTEGER, address TEXT, finished_at TEXT, client TEXT, "
    "waiting INTEGER DEFAULT 0, claims INTEGER DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS jobs(id %ID%, submission INTEGER, status TEXT, calibration TEXT, worker TEXT, "
    "lease BIGINT, cancel INTEGER DEFAULT 0)",
};

// Version 3 added the queue (waiting submissions, leases, cancels), the
// members and the files; its tables are made by the older versions' steps too.
const QStringList version3 = {
    "CREATE TABLE IF NOT EXISTS members(name TEXT PRIMARY KEY, host TEXT, solves INTEGER, heartbeat BIGINT)",
    "CREATE TABLE IF NOT EXISTS files(name TEXT, part INTEGER, data %BLOB%, PRIMARY KEY(name, part))",
    "CREATE INDEX IF NOT EXISTS submissions_waiting ON submissions(waiting)",
    "CREATE INDEX IF NOT EXISTS submissions_client ON submissions(client, started)",
    "CREATE INDEX IF NOT EXISTS submissions_job ON submissions(job)",
};

// SQLite files of version 1 kept the status as a number, the star lists in
// the arguments and no session times or client addresses.
const QStringList fromVersion1 = {
    "ALTER TABLE sessions ADD COLUMN used TEXT",
    "ALTER TABLE submissions ADD COLUMN address TEXT",
    "UPDATE jobs SET status = CASE status WHEN 0 THEN 'solving' WHEN 1 THEN 'success' WHEN 2 THEN 'failure' "
    "ELSE status END",
    "UPDATE submissions SET arguments = json_remove(arguments, '$.x', '$.y') WHERE json_valid(arguments)",
};

// Files of version 2 may lack the end on the boot clock; adding it again fails harmlessly.
const QString finishedAtColumn = "ALTER TABLE submissions ADD COLUMN finished_at TEXT";

const QStringList fromVersion2 = {
    "ALTER TABLE submissions ADD COLUMN client TEXT",
    "ALTER TABLE submissions ADD COLUMN waiting INTEGER DEFAULT 0",
    "ALTER TABLE submissions ADD COLUMN claims INTEGER DEFAULT 0",
    "ALTER TABLE jobs ADD COLUMN worker TEXT",
    "ALTER TABLE jobs ADD COLUMN lease BIGINT",
    "ALTER TABLE jobs ADD COLUMN cancel INTEGER DEFAULT 0",
    "UPDATE submissions SET client = CASE WHEN COALESCE(session, '') <> '' THEN session ELSE COALESCE(address, '') END, "
    "waiting = CASE WHEN job IS NULL THEN 1 ELSE 0 END, claims = CASE WHEN job IS NULL THEN 0 ELSE 1 END",
};

constexpr int writeAttempts = 8;     // with pauses growing to 2 s: about 10 s
constexpr int finishAttempts = 120;  // a result outlasts a database restart
constexpr int chunkBytes = 1 << 20;
constexpr const char* submissionColumns =
    "SELECT s.id, s.session, s.address, s.created, s.started, s.finished, s.filename, s.arguments, s.hash, s.error, "
    "s.job, j.id, j.status, j.calibration, s.finished_at FROM submissions s LEFT JOIN jobs j ON j.id = s.job ";

QString now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }

std::optional<QDateTime> timeOf(const QVariant& value) {
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? std::optional(time) : std::nullopt;
}

QVariant textOr(const std::optional<QDateTime>& time) {
    return time ? QVariant(time->toString(Qt::ISODateWithMs)) : QVariant(QMetaType(QMetaType::QString));
}

QVariant nullInt() { return QVariant(QMetaType(QMetaType::Int)); }

std::optional<Calibration> calibrationOf(const QString& text) {
    const nlohmann::json object = nlohmann::json::parse(text.toStdString(), nullptr, false);
    if (!object.is_object()) return std::nullopt;
    try {
        return Calibration::fromJson(object);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

// A submission and its job from a row of `submissionColumns`; a job whose
// row is missing or unreadable reads as a failure of its own.
std::pair<Submission, std::optional<Job>> rowOf(const QSqlQuery& row) {
    Submission s{row.value(0).toInt(), row.value(1).toString(), row.value(2).toString(),
                 timeOf(row.value(3)).value_or(QDateTime::currentDateTimeUtc()), timeOf(row.value(4)),
                 timeOf(row.value(5)), BootMoment::fromText(row.value(14).toString()), row.value(6).toString(), row.value(7).toString().toStdString(),
                 row.value(8).toString(), row.value(9).toString(), std::nullopt};
    if (row.value(10).isNull()) return {s, std::nullopt};
    s.job = row.value(10).toInt();
    Job job{*s.job, s.id, Job::Status::failure, std::nullopt};
    const std::optional<Job::Status> status = row.value(11).isNull() ? std::nullopt : Job::statusOf(row.value(12).toString());
    if (status == Job::Status::success) job.calibration = calibrationOf(row.value(13).toString());
    if (status && (*status != Job::Status::success || job.calibration)) {
        job.status = *status;
    } else {
        s.error = JobStore::damagedMessage;
        if (!s.finished) s.finished = QDateTime::currentDateTimeUtc();
    }
    return {s, job};
}

}  // namespace

const QString JobStore::stoppedMessage = "Siderama stopped during the solve";
const QString JobStore::damagedMessage = "The job's stored record is damaged";

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

JobStore::JobStore(const JobDatabaseLocation& location, QString member, qint64 leaseMs)
    : db(location),
      memberName(member.isEmpty() ? QSysInfo::machineHostName() + "/" + QUuid::createUuid().toString(QUuid::Id128).left(8)
                                  : std::move(member)),
      leaseMs(leaseMs) {
    migrate();
}

void JobStore::migrate() {
    const std::string where = db.location().description().toStdString();
    int found = -1;
    QString newer;
    const bool done = db.transaction([&](QSqlDatabase& c) {
        if (db.postgres()) {
            // Members starting together migrate one after the other.
            if (!db.run(c, "SELECT pg_advisory_xact_lock(726354)") ||
                !db.run(c, "CREATE TABLE IF NOT EXISTS schema_version(version INTEGER)"))
                return false;
        }
        auto version = db.run(c, db.postgres() ? "SELECT version FROM schema_version" : "PRAGMA user_version");
        if (!version) return false;
        found = version->next() ? version->value(0).toInt() : 0;
        if (found > schemaVersion) return false;
        if (found == schemaVersion) return true;
        if (found == 1 || found == 2) db.run(c, finishedAtColumn);  // SQLite only: the transaction goes on
        QStringList steps;
        if (found == 1) steps << fromVersion1;
        if (found == 1 || found == 2) steps << fromVersion2;
        steps << schema << version3;
        for (const QString& step : steps)
            if (!db.run(c, step)) return false;
        return db.postgres() ? db.run(c, "DELETE FROM schema_version") &&
                                   db.run(c, "INSERT INTO schema_version VALUES(?)", {schemaVersion})
                             : bool(db.run(c, "PRAGMA user_version=" + QString::number(schemaVersion)));
    }, writeAttempts);
    if (found > schemaVersion)
        throw std::runtime_error("Can't use " + where + ": it was written by a newer version of Siderama");
    if (!done) throw std::runtime_error("Can't use " + where + ": " + db.lastError().toStdString());
}

void JobStore::readOrThrow(const std::function<bool(QSqlDatabase&)>& steps) const {
    if (!db.read(steps)) throw std::runtime_error("The job database can't be read: " + db.lastError().toStdString());
}

bool JobStore::addSession(const QString& key) {
    return db.transaction([&](QSqlDatabase& c) {
        return db.run(c, "INSERT INTO sessions(key, used) VALUES(?, ?) ON CONFLICT(key) DO UPDATE SET used = excluded.used",
                      {key, now()}) &&
               db.run(c, "DELETE FROM sessions WHERE used < (SELECT used FROM sessions ORDER BY used DESC LIMIT 1 OFFSET ?)",
                      {sessionLimit});
    }, writeAttempts);
}

// A use is written when the last one is a minute old: polls rarely write.
bool JobStore::useSession(const QString& key) {
    const QDateTime current = QDateTime::currentDateTimeUtc();
    std::optional<QDateTime> used;
    readOrThrow([&](QSqlDatabase& c) {
        auto row = db.run(c, "SELECT used FROM sessions WHERE key = ?", {key});
        if (row && row->next()) used = timeOf(row->value(0)).value_or(current);
        return bool(row);
    });
    if (!used || *used < current.addSecs(-sessionLifetimeSeconds)) return false;
    if (*used < current.addSecs(-60))
        db.transaction([&](QSqlDatabase& c) { return bool(db.run(c, "UPDATE sessions SET used = ? WHERE key = ?", {now(), key})); },
                       writeAttempts);
    return true;
}

std::optional<int> JobStore::addSubmission(const Submission& s) {
    std::optional<int> id;
    const QString client = s.session.isEmpty() ? s.address : s.session;
    const bool saved = db.transaction([&](QSqlDatabase& c) {
        auto row = db.run(c, "INSERT INTO submissions(session, created, started, finished, filename, arguments, hash, "
                             "error, job, address, client, waiting, claims) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0, 0) "
                             "RETURNING id",
                          {s.session, s.created.isValid() ? s.created.toString(Qt::ISODateWithMs) : now(),
                           textOr(s.started), textOr(s.finished), s.originalFilename, QString::fromStdString(s.arguments),
                           s.hash, s.error, s.job ? QVariant(*s.job) : nullInt(), s.address, client});
        const qint64 drawn = row && row->next() ? row->value(0).toLongLong() : INT_MAX;
        id = drawn < INT_MAX ? std::optional(int(drawn)) : std::nullopt;
        return id.has_value();
    }, writeAttempts);
    return saved ? id : std::nullopt;
}

void JobStore::removeSubmission(int id) {
    db.transaction([&](QSqlDatabase& c) {
        return db.run(c, "DELETE FROM submissions WHERE id = ?", {id}) &&
               db.run(c, "DELETE FROM files WHERE name = ?", {"input/" + QString::number(id)});
    }, writeAttempts);
}

bool JobStore::enqueue(int id, const QString& input) {
    return db.transaction([&](QSqlDatabase& c) {
        if (db.postgres() && !input.isEmpty() && !putFile(c, "input/" + QString::number(id), input)) return false;
        auto updated = db.run(c, "UPDATE submissions SET waiting = 1 WHERE id = ? AND job IS NULL", {id});
        return updated && updated->numRowsAffected() == 1 && (!db.postgres() || db.run(c, QString("NOTIFY ") + channel));
    }, writeAttempts);
}

std::optional<JobStore::Claim> JobStore::start(QSqlDatabase& c, int submission) {
    auto row = db.run(c, "SELECT job FROM submissions WHERE id = ?", {submission});
    if (!row || !row->next()) return std::nullopt;
    Claim claim{submission, row->value(0).toInt()};
    if (row->value(0).isNull()) {
        auto added = db.run(c, "INSERT INTO jobs(submission, status, worker, lease, cancel) "
                               "VALUES(?, 'solving', ?, %NOW% + ?, 0) RETURNING id",
                            {submission, memberName, leaseMs});
        if (!added || !added->next() || added->value(0).toLongLong() >= INT_MAX) return std::nullopt;
        claim.job = added->value(0).toInt();
        if (!db.run(c, "UPDATE submissions SET job = ?, started = ? WHERE id = ?", {claim.job, now(), submission}))
            return std::nullopt;
    } else if (!db.run(c, "UPDATE jobs SET worker = ?, lease = %NOW% + ? WHERE id = ?", {memberName, leaseMs, claim.job})) {
        return std::nullopt;
    }
    if (!db.run(c, "UPDATE submissions SET waiting = 0, claims = claims + 1 WHERE id = ?", {submission})) return std::nullopt;
    return claim;
}

std::optional<int> JobStore::startJob(int submission) {
    std::optional<Claim> claim;
    db.transaction([&](QSqlDatabase& c) { return (claim = start(c, submission)).has_value(); }, writeAttempts);
    return claim ? std::optional(claim->job) : std::nullopt;
}

// Each client's turn comes by the time its last job started: one that never
// had one goes first, then whose wait since its last start is the longest.
std::optional<JobStore::Claim> JobStore::claim() {
    std::optional<Claim> claim;
    db.transaction([&](QSqlDatabase& c) {
        auto next = db.run(c, "SELECT s.id FROM submissions s WHERE s.waiting = 1 ORDER BY "
                              "(SELECT COALESCE(MAX(t.started), '') FROM submissions t WHERE t.client = s.client), s.id "
                              "LIMIT 1 %LOCK%");
        if (!next) return false;
        if (!next->next()) return true;
        return (claim = start(c, next->value(0).toInt())).has_value();
    }, writeAttempts);
    return claim;
}

bool JobStore::end(QSqlDatabase& c, int job, const std::optional<Calibration>& calibration, const QString& error) {
    const QVariant text = calibration ? QVariant(QString::fromStdString(calibration->toJson().dump()))
                                      : QVariant(QMetaType(QMetaType::QString));
    auto updated = db.run(c, "UPDATE jobs SET status = ?, calibration = ?, worker = NULL, lease = NULL "
                             "WHERE id = ? AND status = 'solving'",
                          {QString(Job::text(calibration ? Job::Status::success : Job::Status::failure)), text, job});
    return updated && updated->numRowsAffected() == 1 &&
           db.run(c, "UPDATE submissions SET finished = ?, finished_at = ?, error = ?, waiting = 0 WHERE job = ?",
                  {now(), BootMoment::now().text(), calibration ? QString() : error, job});
}

bool JobStore::finishJob(int job, const std::optional<Calibration>& calibration, const QString& error,
                         const std::vector<std::pair<QString, QString>>& files) {
    return db.transaction([&](QSqlDatabase& c) {
        auto held = db.run(c, QString("SELECT worker FROM jobs WHERE id = ? AND status = 'solving'") +
                                  (db.postgres() ? " FOR UPDATE" : ""), {job});
        if (!held || !held->next() || held->value(0).toString() != memberName) return false;
        for (const auto& [name, path] : files)
            if (db.postgres() && QFile::exists(path) && !putFile(c, name, path)) return false;
        return end(c, job, calibration, error);
    }, finishAttempts);
}

bool JobStore::release(int job) {
    return db.transaction([&](QSqlDatabase& c) {
        auto held = db.run(c, "UPDATE jobs SET worker = NULL, lease = NULL WHERE id = ? AND worker = ? AND status = 'solving'",
                           {job, memberName});
        return held && held->numRowsAffected() == 1 &&
               db.run(c, "UPDATE submissions SET waiting = 1, claims = claims - 1 WHERE job = ?", {job}) &&
               (!db.postgres() || db.run(c, QString("NOTIFY ") + channel));
    }, writeAttempts);
}

JobStore::Lease JobStore::renew(const std::vector<int>& jobs) {
    Lease lease;
    db.transaction([&](QSqlDatabase& c) {
        lease = {};
        for (const int job : jobs) {
            auto renewed = db.run(c, "UPDATE jobs SET lease = %NOW% + ? WHERE id = ? AND worker = ? AND status = 'solving'",
                                  {leaseMs, job, memberName});
            auto cancel = db.run(c, "SELECT cancel FROM jobs WHERE id = ?", {job});
            if (!renewed || !cancel) return false;
            if (renewed->numRowsAffected() == 0) lease.lost.push_back(job);
            else if (cancel->next() && cancel->value(0).toInt() != 0) lease.cancelled.push_back(job);
        }
        return true;
    }, 1);
    return lease;
}

int JobStore::requeueExpired() {
    int requeued = 0;
    db.transaction([&](QSqlDatabase& c) {
        requeued = 0;
        auto expired = db.run(c, "SELECT j.id, s.claims FROM jobs j JOIN submissions s ON s.job = j.id "
                                 "WHERE j.status = 'solving' AND j.worker IS NOT NULL AND j.lease < %NOW% %LOCK%");
        if (!expired) return false;
        std::vector<std::pair<int, int>> jobs;
        while (expired->next()) jobs.emplace_back(expired->value(0).toInt(), expired->value(1).toInt());
        for (const auto& [job, claims] : jobs) {
            if (claims >= claimLimit) {
                if (!end(c, job, std::nullopt, "The job was begun " + QString::number(claims) +
                                                   " times and each time its worker stopped answering (it stopped, "
                                                   "or lost the database) during the solve"))
                    return false;
                continue;
            }
            if (!db.run(c, "UPDATE jobs SET worker = NULL, lease = NULL WHERE id = ?", {job}) ||
                !db.run(c, "UPDATE submissions SET waiting = 1 WHERE job = ?", {job}))
                return false;
            ++requeued;
        }
        return requeued == 0 || !db.postgres() || db.run(c, QString("NOTIFY ") + channel);
    }, 1);
    return requeued;
}

bool JobStore::requestCancel(int job) {
    return db.transaction([&](QSqlDatabase& c) {
        auto row = db.run(c, QString("SELECT worker FROM jobs WHERE id = ? AND status = 'solving'") +
                                 (db.postgres() ? " FOR UPDATE" : ""), {job});
        if (!row) return false;
        if (!row->next()) return true;
        if (row->value(0).isNull()) return end(c, job, std::nullopt, "Cancelled");
        return db.run(c, "UPDATE jobs SET cancel = 1 WHERE id = ?", {job}) &&
               (!db.postgres() || db.run(c, QString("NOTIFY ") + channel));
    }, writeAttempts);
}

std::optional<std::pair<Submission, std::optional<Job>>> JobStore::snapshot(int id) const {
    std::optional<std::pair<Submission, std::optional<Job>>> found;
    readOrThrow([&](QSqlDatabase& c) {
        auto row = db.run(c, QString(submissionColumns) + "WHERE s.id = ?", {id});
        if (row && row->next()) found = rowOf(*row);
        return bool(row);
    });
    return found;
}

std::optional<Submission> JobStore::submission(int id) const {
    const auto found = snapshot(id);
    return found ? std::optional(found->first) : std::nullopt;
}

std::optional<Job> JobStore::job(int id) const {
    std::optional<Job> found;
    readOrThrow([&](QSqlDatabase& c) {
        auto row = db.run(c, QString(submissionColumns) + "WHERE s.job = ?", {id});
        if (row && row->next()) found = rowOf(*row).second;
        return bool(row);
    });
    return found;
}

std::vector<int> JobStore::jobsOfSession(const QString& session) const {
    std::vector<int> ids;
    readOrThrow([&](QSqlDatabase& c) {
        ids.clear();
        auto rows = db.run(c, "SELECT job FROM submissions WHERE session = ? AND job IS NOT NULL ORDER BY id", {session});
        while (rows && rows->next()) ids.push_back(rows->value(0).toInt());
        return bool(rows);
    });
    return ids;
}

std::vector<std::pair<Submission, std::optional<Job>>> JobStore::recent(const QDateTime& since, int limit) const {
    std::vector<std::pair<Submission, std::optional<Job>>> found;
    const QString after = since.toUTC().toString(Qt::ISODateWithMs);
    readOrThrow([&](QSqlDatabase& c) {
        found.clear();
        auto rows = db.run(c, QString(submissionColumns) + "WHERE s.finished IS NULL OR s.finished >= ? OR s.created >= ? "
                                                           "ORDER BY s.id DESC LIMIT ?", {after, after, limit});
        while (rows && rows->next()) found.push_back(rowOf(*rows));
        return bool(rows);
    });
    return found;
}

std::optional<JobStore::Counts> JobStore::counts() const {
    std::optional<Counts> counts;
    db.read([&](QSqlDatabase& c) {
        auto row = db.run(c, "SELECT (SELECT COUNT(*) FROM submissions WHERE waiting = 1), "
                             "(SELECT COUNT(*) FROM jobs WHERE status = 'solving' AND worker IS NOT NULL)");
        if (row && row->next()) counts = Counts{row->value(0).toInt(), row->value(1).toInt()};
        return counts.has_value();
    });
    return counts;
}

bool JobStore::heartbeat(const QString& host, int solves) {
    return db.transaction([&](QSqlDatabase& c) {
        return db.run(c, "INSERT INTO members(name, host, solves, heartbeat) VALUES(?, ?, ?, %NOW%) ON CONFLICT(name) "
                         "DO UPDATE SET host = excluded.host, solves = excluded.solves, heartbeat = excluded.heartbeat",
                      {memberName, host, solves}) &&
               db.run(c, "DELETE FROM members WHERE heartbeat < %NOW% - 86400000");
    }, 1);
}

void JobStore::leave() {
    db.transaction([&](QSqlDatabase& c) { return bool(db.run(c, "DELETE FROM members WHERE name = ?", {memberName})); }, 2);
}

std::vector<Member> JobStore::members(qint64 withinMs) const {
    std::vector<Member> members;
    db.read([&](QSqlDatabase& c) {
        members.clear();
        auto rows = db.run(c, "SELECT m.name, m.host, m.solves, %NOW% - m.heartbeat, (SELECT COUNT(*) FROM jobs j "
                              "WHERE j.worker = m.name AND j.status = 'solving') FROM members m "
                              "WHERE m.heartbeat > %NOW% - ? ORDER BY m.name", {withinMs});
        while (rows && rows->next())
            members.push_back({rows->value(0).toString(), rows->value(1).toString(), rows->value(2).toInt(),
                               rows->value(4).toInt(), rows->value(3).toLongLong()});
        return bool(rows);
    });
    return members;
}

bool JobStore::putFile(QSqlDatabase& c, const QString& name, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !db.run(c, "DELETE FROM files WHERE name = ?", {name})) return false;
    for (int part = 0;; ++part) {
        const QByteArray chunk = file.read(chunkBytes);
        if (chunk.isEmpty() && part > 0) return file.atEnd();
        if (!db.run(c, "INSERT INTO files(name, part, data) VALUES(?, ?, ?)", {name, part, chunk})) return false;
        if (chunk.isEmpty()) return true;
    }
}

std::optional<bool> JobStore::fetchFile(const QString& name, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    bool found = false, written = true;
    const bool read = db.read([&](QSqlDatabase& c) {
        file.seek(0);
        file.resize(0);
        for (int part = 0;; ++part) {
            auto row = db.run(c, "SELECT data FROM files WHERE name = ? AND part = ?", {name, part});
            if (!row) return false;
            if (!row->next()) return true;
            found = true;
            const QByteArray chunk = row->value(0).toByteArray();
            if (file.write(chunk) != chunk.size()) return written = false, true;
        }
    });
    if (read && found && written) return file.commit();
    file.cancelWriting();
    return read ? std::optional(false) : std::nullopt;
}

std::vector<int> JobStore::recover() {
    std::vector<int> waiting;
    db.transaction([&](QSqlDatabase& c) {
        waiting.clear();
        auto solving = db.run(c, "SELECT id FROM jobs WHERE status = 'solving'");
        if (!solving) return false;
        std::vector<int> jobs;
        while (solving->next()) jobs.push_back(solving->value(0).toInt());
        for (const int job : jobs)
            if (!end(c, job, std::nullopt, stoppedMessage)) return false;
        auto held = db.run(c, "UPDATE submissions SET waiting = 1 WHERE job IS NULL");
        auto rows = db.run(c, "SELECT id FROM submissions WHERE waiting = 1 ORDER BY id");
        while (rows && rows->next()) waiting.push_back(rows->value(0).toInt());
        return held && rows;
    }, writeAttempts);
    return waiting;
}

std::pair<std::vector<int>, std::vector<int>> JobStore::expire(double retentionSeconds) {
    std::vector<int> gone, goneJobs;
    const BootMoment clock = BootMoment::now();
    const QDateTime wallClock = QDateTime::currentDateTimeUtc();
    const bool saved = db.transaction([&](QSqlDatabase& c) {
        gone.clear(), goneJobs.clear();
        auto rows = db.run(c, "SELECT id, job, finished, finished_at FROM submissions WHERE finished IS NOT NULL");
        if (!rows) return false;
        while (rows->next()) {
            const std::optional<BootMoment> finishedAt = BootMoment::fromText(rows->value(3).toString());
            const std::optional<double> age = finishedAt ? finishedAt->secondsUntil(clock) : std::nullopt;
            const std::optional<QDateTime> finished = timeOf(rows->value(2));
            if (!finished || age.value_or(double(finished->secsTo(wallClock))) < retentionSeconds) continue;
            gone.push_back(rows->value(0).toInt());
            if (!rows->value(1).isNull()) goneJobs.push_back(rows->value(1).toInt());
        }
        bool ok = bool(db.run(c, "DELETE FROM sessions WHERE used < ?",
                              {QDateTime::currentDateTimeUtc().addSecs(-sessionLifetimeSeconds).toString(Qt::ISODateWithMs)}));
        for (const int id : goneJobs)
            ok = ok && db.run(c, "DELETE FROM jobs WHERE id = ?", {id}) &&
                 db.run(c, "DELETE FROM files WHERE name LIKE ?", {"job/" + QString::number(id) + "/%"});
        for (const int id : gone)
            ok = ok && db.run(c, "DELETE FROM submissions WHERE id = ?", {id}) &&
                 db.run(c, "DELETE FROM files WHERE name = ?", {"input/" + QString::number(id)});
        return ok;
    }, writeAttempts);
    if (!saved) return {};
    return {gone, goneJobs};
}

}  // namespace siderama
