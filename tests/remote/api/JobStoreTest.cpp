// The job store's file as crashes, older versions, a wrong clock and other programs leave it.
#include "remote/api/JobStore.h"
#include "support/TestSupport.h"
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
    EXPECT_EQ(sqlite(path, "SELECT status FROM jobs; PRAGMA user_version=3"), "success");
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

}  // namespace
