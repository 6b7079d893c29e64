// The job store's contract on SQLite and a private PostgreSQL server, and its SQLite file as crashes, older
// versions, a wrong clock and other programs leave it.
#include "remote/api/JobStore.h"
#include "support/PostgresServer.h"
#include "support/TestSupport.h"
#include <QSqlQuery>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <atomic>
#include <thread>

using namespace siderama;

namespace {
// Runs `sql` with the sqlite3 program; its output, or "failed".
QString sqlite(const QString& path, const QString& sql) {
    QProcess program;
    program.start("sqlite3", {path, sql});
    const bool done = program.waitForFinished(30000) && program.exitCode() == 0;
    return done ? QString::fromUtf8(program.readAllStandardOutput()).trimmed() : "failed";
}

class JobStoreFile : public ::testing::Test {
protected:
    // Jobs 1 and 2 solved, 3 failed, as a server left them.
    void fill() {
        JobStore store(path);
        for (int i = 1; i <= 3; ++i) {
            ASSERT_EQ(store.addSubmission({}), i);
            ASSERT_EQ(store.startJob(i), i);
            ASSERT_TRUE(store.finishJob(i, i < 3 ? std::optional(Calibration{83.8, -5.4}) : std::nullopt, "No solution found"));
        }
    }
    QTemporaryDir scratch;
    QString path = scratch.filePath("jobs.sqlite");
};

class DamagedRow : public JobStoreFile, public ::testing::WithParamInterface<const char*> {};

TEST_P(DamagedRow, FailsItsJobAloneAndTheOthersReadBackAfterARestart) {
    fill();
    ASSERT_EQ(sqlite(path, GetParam()), "");
    JobStore store(path);
    const auto [submission, job] = *store.snapshot(1);
    EXPECT_EQ(std::pair(job.value_or(Job{}).status, submission.error), std::pair(Job::Status::failure, QString("The job's stored record is damaged")));
    EXPECT_EQ(store.job(2)->calibration.value_or(Calibration{}).dec, -5.4);
    EXPECT_EQ(store.snapshot(3)->first.error, "No solution found");
}

INSTANTIATE_TEST_SUITE_P(Rows, DamagedRow,
                         ::testing::Values("UPDATE jobs SET calibration='{' WHERE id=1", "UPDATE jobs SET status='bogus' WHERE id=1",
                                           "UPDATE jobs SET status=NULL, calibration=NULL WHERE id=1", "DELETE FROM jobs WHERE id=1"));

TEST_F(JobStoreFile, AVersion1FileIsMigratedAndANewerOneRefused) {
    ASSERT_EQ(sqlite(path, R"(CREATE TABLE sessions(key TEXT PRIMARY KEY);
        CREATE TABLE submissions(id INTEGER PRIMARY KEY AUTOINCREMENT, session TEXT, created TEXT, started TEXT,
            finished TEXT, filename TEXT, arguments TEXT, hash TEXT, error TEXT, job INTEGER);
        CREATE TABLE jobs(id INTEGER PRIMARY KEY AUTOINCREMENT, submission INTEGER, status INTEGER, calibration TEXT);
        INSERT INTO sessions VALUES('s1');
        INSERT INTO submissions(session, arguments, job) VALUES('s1', '{"x":[1],"y":[2],"scale_lower":2}', 1);
        INSERT INTO jobs(submission, status, calibration) VALUES(1, 1, '{"ra":10.5}'); PRAGMA user_version=1;)"), "");
    {
        JobStore store(path);
        EXPECT_EQ(store.job(1)->calibration.value_or(Calibration{}).ra, 10.5);
        EXPECT_EQ(store.submission(1)->arguments, R"({"scale_lower":2})");
        EXPECT_TRUE(store.useSession("s1"));
    }
    EXPECT_EQ(sqlite(path, "SELECT status FROM jobs; PRAGMA user_version=4"), "success");
    try {
        JobStore newer(path);
        ADD_FAILURE() << "a newer file was opened";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("written by a newer version"), std::string::npos) << error.what();
    }
}

// Jobs that ended in this boot age on the boot clock, whatever the wall clock said then; others on the wall
// clock. Ids are never handed out twice, also after a submission was taken back.
TEST_F(JobStoreFile, RetentionIsJudgedOnTheBootClockAndIdsAreNotReused) {
    fill();
    ASSERT_EQ(sqlite(path, "UPDATE submissions SET finished='2000-01-01T00:00:00.000Z';"
                           "UPDATE submissions SET finished_at='another-boot 1' WHERE id=3; DELETE FROM submissions WHERE id=2"), "");
    JobStore store(path);
    EXPECT_EQ(store.expire(3600).first, std::vector<int>{3});
    EXPECT_EQ(store.addSubmission({}), 4);
}

// Polls answer while another program holds the write lock; the submission waits for it instead of being lost.
TEST_F(JobStoreFile, WritesWaitForAnotherProgramsLockAndReadsDoNot) {
    fill();
    JobStore store(path);
    QProcess holder;
    holder.start("sqlite3", {path});
    holder.write("BEGIN EXCLUSIVE; SELECT 'held';\n");  // until its input ends
    ASSERT_TRUE(testsupport::waitUntil([&] { return holder.waitForReadyRead(100) || holder.bytesAvailable() > 0; }));
    std::atomic<bool> added = false;
    std::thread writer([&] { added = store.addSubmission({}) == 4; });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the writer waits for the lock meanwhile
    EXPECT_EQ(store.job(2)->status, Job::Status::success);
    EXPECT_FALSE(added);
    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(30000));
    writer.join();
    EXPECT_TRUE(added);
}

// The same promises from SQLite and PostgreSQL (parameter: PostgreSQL).
class StoreContract : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) ASSERT_TRUE(server().ok() && sql("DROP SCHEMA public CASCADE") && sql("CREATE SCHEMA public"));
    }
    JobDatabaseLocation location() { return JobDatabaseLocation::parse(GetParam() ? server().url() : "", scratch.filePath("j")); }
    bool sql(const QString& text) {
        JobDatabase db(location());
        return QSqlQuery(db.connection()).exec(text);
    }
    auto member(const QString& name, qint64 leaseMs = 60000) { return std::make_unique<JobStore>(location(), name, leaseMs); }
    int queued(JobStore& store, const QString& session, const QString& input = {}) {
        const int id = store.addSubmission({.session = session}).value_or(0);
        return store.enqueue(id, input) ? id : 0;
    }
    static testsupport::PostgresServer& server() {
        static testsupport::PostgresServer postgres;
        return postgres;
    }
    QTemporaryDir scratch;
};

TEST_P(StoreContract, IdsStartAt1AreNeverReusedAndStayBelow2To31) {
    auto store = member("a");
    ASSERT_EQ(store->addSubmission({}), 1);
    store->removeSubmission(1);
    EXPECT_EQ(member("b")->addSubmission({}), 2);
    EXPECT_EQ(store->startJob(2), 1);
    ASSERT_TRUE(sql(GetParam() ? "SELECT setval('submissions_id_seq', 2147483645)"
                               : "UPDATE sqlite_sequence SET seq = 2147483645 WHERE name = 'submissions'"));
    EXPECT_EQ(store->addSubmission({}), 2147483646);
    EXPECT_EQ(store->addSubmission({}), std::nullopt);
}

// One session's 50 jobs and another's single one: the single one is taken second, the rest in order. A shared
// database carries the single one's input in chunks; SQLite leaves files on the member's own disk.
TEST_P(StoreContract, ClaimsTakeClientsInTurnAndInputsTravelThroughASharedDatabase) {
    const QByteArray data = QByteArray(2'400'000, 'x') + QByteArray(100'000, 'y');
    QFile input(scratch.filePath("input"));
    ASSERT_TRUE(input.open(QIODevice::WriteOnly) && input.write(data) == data.size() && input.flush());
    auto store = member("a");
    for (int i = 0; i < 50; ++i) queued(*store, "busy");
    const int single = queued(*store, "", input.fileName());  // a client known by its address
    std::vector<int> order;
    while (const auto claim = store->claim()) order.push_back(claim->submission);
    ASSERT_EQ(order.size(), 51u);
    EXPECT_EQ(order[1], single);
    EXPECT_TRUE(std::is_sorted(order.begin() + 2, order.end()));
    EXPECT_EQ(store->counts()->running, 51);
    EXPECT_EQ(store->fetchFile("input/" + QString::number(single), scratch.filePath("copy")), std::optional(GetParam()));
    if (GetParam()) EXPECT_EQ(testsupport::readFile(scratch.filePath("copy")), data);
}

// A lease that runs out puts the job back (same job id) twice; the third loss fails it. A member that
// lost its lease writes nothing. (A cancel across members: the shared queue test.)
TEST_P(StoreContract, LeasesRunOut) {
    auto a = member("a", 300), b = member("b", 300);
    queued(*a, "s");
    for (int turn = 0; turn < 3; ++turn) {
        JobStore* holder = turn == 1 ? b.get() : a.get();
        ASSERT_EQ(holder->claim().value_or(JobStore::Claim{}).job, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_EQ(b->requeueExpired(), turn < 2 ? 1 : 0);
        EXPECT_FALSE(holder->finishJob(1, Calibration{1, 2}, {}));
        EXPECT_EQ(holder->renew({1}).lost, std::vector{1});
    }
    EXPECT_NE(a->snapshot(1)->first.error.indexOf("begun 3 times"), -1) << a->submission(1)->error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engines, StoreContract, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "PostgreSQL" : "SQLite"; });
}  // namespace
