// The download queue against the loopback index-file server: order, progress,
// status texts, failures and abort, through the index manager and directly.
#include "indexes/DownloadTestSupport.h"
#include "indexes/IndexDownloadQueue.h"
#include "indexes/IndexManagerDelegate.h"
#include "indexes/IndexTestSupport.h"
#include "indexes/RecordingView.h"
#include "support/FakeIndexServer.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

using namespace siderama;
using testsupport::FakeIndexFile;
using testsupport::FakeIndexServer;
using testsupport::waitUntil;
using Progress = RecordingView::Progress;

namespace {

void settle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    waitUntil([&] { return timer.elapsed() >= milliseconds; });
}

class DownloadQueueTest : public ::testing::Test {
protected:
    DownloadQueueTest() {
        server.exportLocations();
        delegate->refresh();
    }

    void tick(const QStringList& keys) {
        for (const QString& key : keys) view.states[key] = CheckState::on;
    }
    bool waitIdle() {
        return waitUntil([this] { return !delegate->transferring(); });
    }

    IndexTestDirectories dirs;
    FakeIndexServer server;
    RecordingView view;
    std::unique_ptr<IndexManagerDelegate> delegate =
        std::make_unique<IndexManagerDelegate>(view, dirs.folder(), DistributionIndexes(dirs.distribution()), fastPolicy());
};

TEST_F(DownloadQueueTest, fetchesFilesOneAfterAnotherWithProgress) {
    server.serveFits("index-4119.fits", 1000);
    server.serveFits("index-4118.fits", 2000);
    server.serveFits("index-4117.fits", 3000);
    tick({"index-4117.fits", "index-4119.fits", "index-4118.fits"});
    delegate->go();
    ASSERT_TRUE(waitIdle());

    EXPECT_EQ(server.requests(),
              QStringList({"/4100/index-4119.fits", "/4100/index-4118.fits", "/4100/index-4117.fits"}));
    EXPECT_EQ(server.mostConnections(), 1) << "transfers overlap";
    EXPECT_EQ(view.statusTexts, QStringList({"Downloading index-4119.fits", "Downloading index-4119.fits (1000 bytes)",
                                             "Downloading index-4118.fits", "Downloading index-4118.fits (2000 bytes)",
                                             "Downloading index-4117.fits", "Downloading index-4117.fits (3000 bytes)",
                                             "Done"}));
    EXPECT_EQ(view.queueProgress, QList<Progress>({{0, 3}, {1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(view.fileProgress.last(), Progress(3000, 3000));
    EXPECT_TRUE(view.fileProgress.contains(Progress(0, 1000))) << "a new file starts at 0";
    EXPECT_EQ(view.transferring, QList<bool>({false, true, false}));
    EXPECT_EQ(dirs.entries(), QStringList({"index-4117.fits", "index-4118.fits", "index-4119.fits"}));
    EXPECT_EQ(dirs.read("index-4118.fits"), FakeIndexServer::fitsBody(2000));
}

TEST_F(DownloadQueueTest, queuesSeries4100BeforeSeries4200) {
    for (const char* name : {"index-4219.fits", "index-4208.fits", "index-4107.fits"}) server.serveFits(name, 500);
    tick({"index-4219.fits", "index-4208.fits", "index-4107.fits"});
    delegate->go();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(server.requests(),
              QStringList({"/4100/index-4107.fits", "/4200/index-4219.fits", "/4200/index-4208.fits"}));
    EXPECT_EQ(view.lastStatus(), "Done");
}

TEST_F(DownloadQueueTest, reportsProgressOfASlowAnswerAsItArrives) {
    server.serve("index-4119.fits",
                 {.body = FakeIndexServer::fitsBody(64 * 1024), .chunkSize = 8 * 1024, .chunkDelayMs = 15});
    tick({"index-4119.fits"});
    delegate->go();
    ASSERT_TRUE(waitIdle());
    QList<qint64> values;
    for (const Progress& progress : view.fileProgress)
        if (progress.first > 0) values << progress.first;
    EXPECT_GE(values.size(), 4);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(view.fileProgress.last(), Progress(64 * 1024, 64 * 1024));
    EXPECT_EQ(view.lastStatus(), "Done");
}

// The second of five files fails: the queue stops there and nothing is left
// under the failed file's name.
class FailingFileTest : public DownloadQueueTest {
protected:
    QString failSecond(const FakeIndexFile& bad) {
        const QStringList keys = {"index-4119.fits", "index-4118.fits", "index-4117.fits", "index-4116.fits",
                                  "index-4115.fits"};
        for (const QString& key : keys) server.serveFits(key, 3000);
        server.serve("index-4118.fits", bad);
        tick(keys);
        delegate->go();
        EXPECT_TRUE(waitIdle());
        QStringList fetched = server.requests();
        fetched.removeDuplicates();  // transient failures are retried
        EXPECT_EQ(fetched, QStringList({"/4100/index-4119.fits", "/4100/index-4118.fits"}));
        EXPECT_EQ(delegate->queue(), QStringList({"index-4117.fits", "index-4116.fits", "index-4115.fits"}));
        EXPECT_EQ(view.transferring.last(), false);
        EXPECT_EQ(dirs.entries(), QStringList({"index-4119.fits"}));
        return view.lastStatus();
    }
};

TEST_F(FailingFileTest, stopsOnNotFound) {
    EXPECT_EQ(failSecond({.status = 404, .body = "<html>missing</html>"}), "Downloading index-4118.fits - failed");
}

TEST_F(FailingFileTest, stopsOnServerError) {
    EXPECT_EQ(failSecond({.status = 500, .body = FakeIndexServer::fitsBody(3000)}),
              "Downloading index-4118.fits - failed");
}

TEST_F(FailingFileTest, stopsOnABodyThatIsNotFits) {
    EXPECT_EQ(failSecond({.body = "<html>a portal login page</html>"}),
              "Downloading index-4118.fits (32 bytes) - failed");
}

TEST_F(FailingFileTest, stopsOnAConnectionCutHalfway) {
    EXPECT_EQ(failSecond({.body = FakeIndexServer::fitsBody(40000), .cutAfter = 20000}),
              "Downloading index-4118.fits (40000 bytes) - failed");
}

TEST_F(FailingFileTest, stopsOnASlowConnectionCutHalfway) {
    EXPECT_EQ(failSecond({.body = FakeIndexServer::fitsBody(40000), .cutAfter = 20000, .chunkSize = 4096,
                          .chunkDelayMs = 5}),
              "Downloading index-4118.fits (40000 bytes) - failed");
}

TEST_F(FailingFileTest, fetchesTheFailedFileAgainOnTheNextApply) {
    failSecond({.status = 500, .body = {}});
    server.serveFits("index-4118.fits", 3000);
    const qsizetype before = server.requests().size();
    delegate->go();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(view.lastStatus(), "Done");
    EXPECT_EQ(server.requests().mid(before),
              QStringList({"/4100/index-4118.fits", "/4100/index-4117.fits", "/4100/index-4116.fits",
                           "/4100/index-4115.fits"}));
}

TEST_F(DownloadQueueTest, abortStopsTheTransferAndLeavesNoFile) {
    server.serve("index-4119.fits",
                 {.body = FakeIndexServer::fitsBody(400 * 1024), .chunkSize = 4096, .chunkDelayMs = 20});
    server.serveFits("index-4118.fits", 1000);
    tick({"index-4119.fits", "index-4118.fits"});
    delegate->go();
    ASSERT_TRUE(waitUntil([this] { return !view.fileProgress.isEmpty() && view.fileProgress.last().first > 0; }));
    EXPECT_FALSE(QFileInfo::exists(dirs.folder() + "/index-4119.fits")) << "a partial file under the final name";
    for (const QString& entry : dirs.entries()) EXPECT_TRUE(entry.startsWith(".")) << entry.toStdString();
    delegate->abort();

    EXPECT_EQ(view.lastStatus(), "Aborted");
    EXPECT_TRUE(delegate->queue().isEmpty());
    EXPECT_EQ(view.queueProgress.last(), Progress(0, 2));
    EXPECT_EQ(view.transferring.last(), false);
    EXPECT_FALSE(delegate->transferring());
    settle(200);
    EXPECT_EQ(view.lastStatus(), "Aborted") << "a cancelled transfer reports nothing more";
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(dirs.entries().isEmpty()) << dirs.entries().join(", ").toStdString();

    delegate->go();
    EXPECT_EQ(view.statusTexts.last(), "Downloading index-4119.fits") << "the aborted file is queued again";
    delegate->abort();
}

TEST_F(DownloadQueueTest, queuesNothingWhenEveryTickedFileIsPresent) {
    dirs.write("index-4119.fits", FakeIndexServer::fitsBody(100));
    delegate->refresh();
    delegate->go();
    EXPECT_EQ(view.queueProgress.last(), Progress(0, 33));
    EXPECT_TRUE(view.statusTexts.isEmpty());
    EXPECT_EQ(view.transferring, QList<bool>({false}));
    EXPECT_TRUE(server.requests().isEmpty());
}

class QueueTest : public ::testing::Test {
protected:
    QueueTest() {
        server.exportLocations();
        QObject::connect(&queue, &IndexDownloadQueue::allDone, [this] { done = true; });
        QObject::connect(&queue, &IndexDownloadQueue::fileNotStarted, [this](const QString& name) { notStarted << name; });
    }
    IndexTestDirectories dirs;
    FakeIndexServer server;
    IndexDownloadQueue queue{dirs.folder(), fastPolicy()};
    bool done = false;
    QStringList notStarted;
};

TEST_F(QueueTest, overwritesAnExistingFile) {
    dirs.write("index-4119.fits", "old content");
    server.serveFits("index-4119.fits", 2880);
    queue.enqueue("index-4119.fits");
    queue.downloadNext();
    ASSERT_TRUE(waitUntil([this] { return done; }));
    EXPECT_EQ(dirs.read("index-4119.fits"), FakeIndexServer::fitsBody(2880));
    EXPECT_EQ(dirs.entries(), QStringList({"index-4119.fits"}));
}

TEST_F(QueueTest, replacesALinkWithoutWritingThroughIt) {
    const QString outside = dirs.distribution() + "/index-tycho2-18.littleendian.fits";
    dirs.writeDistribution("index-tycho2-18.littleendian.fits", "distribution file");
    ASSERT_TRUE(QFile::link(outside, dirs.folder() + "/index-4118.fits"));
    server.serveFits("index-4118.fits", 2880);
    queue.enqueue("index-4118.fits");
    queue.downloadNext();
    ASSERT_TRUE(waitUntil([this] { return done; }));
    QFile source(outside);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    EXPECT_EQ(source.readAll(), "distribution file");
    EXPECT_FALSE(QFileInfo(dirs.folder() + "/index-4118.fits").isSymLink());
    EXPECT_EQ(dirs.read("index-4118.fits"), FakeIndexServer::fitsBody(2880));
}

TEST_F(QueueTest, startsNothingForANameOfNeitherSeries) {
    queue.enqueue("index-9999.fits");
    queue.enqueue("index-4119.fits");
    queue.downloadNext();
    EXPECT_EQ(notStarted, QStringList({"index-9999.fits"}));
    EXPECT_EQ(queue.pending(), QStringList({"index-4119.fits"}));
    settle(50);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_FALSE(done);
}

TEST_F(QueueTest, reportsDoneAtOnceWhenEmpty) {
    queue.downloadNext();
    EXPECT_TRUE(done);
}

}  // namespace
