// The download queue against the loopback index-file server: order,
// progress, status texts, failures and abort.
#include "indexes/IndexDownloadQueue.h"
#include "indexes/IndexManagerDelegate.h"
#include "indexes/IndexTestSupport.h"
#include "indexes/RecordingView.h"
#include "support/FakeIndexServer.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace siderama;
using testsupport::FakeIndexFile;
using testsupport::FakeIndexServer;
using testsupport::waitUntil;
using Progress = RecordingView::Progress;

namespace {

class DownloadQueueTest : public ::testing::Test {
protected:
    DownloadQueueTest() {
        server.exportLocations();
        delegate.refresh();
    }
    void tick(const QStringList& keys) {
        for (const QString& key : keys) view.states[key] = CheckState::on;
    }
    bool applyAndWait() {
        delegate.go();
        return waitUntil([this] { return !delegate.transferring(); });
    }

    IndexTestDirectories dirs;
    FakeIndexServer server;
    RecordingView view;
    IndexManagerDelegate delegate{view, dirs.folder(), DistributionIndexes(dirs.distribution())};
};

TEST_F(DownloadQueueTest, FetchesOneFileAfterAnotherSeries4100FirstWithProgress) {
    server.serveFits("index-4119.fits", 1000);
    server.serveFits("index-4117.fits", 3000);
    server.serve("index-4219.fits", {.body = FakeIndexServer::fitsBody(2000), .announceLength = false});
    tick({"index-4219.fits", "index-4117.fits", "index-4119.fits"});
    ASSERT_TRUE(applyAndWait());
    EXPECT_EQ(server.requests(), QStringList({"/4100/index-4119.fits", "/4100/index-4117.fits", "/4200/index-4219.fits"}));
    EXPECT_EQ(server.mostConnections(), 1) << "transfers overlap";
    EXPECT_EQ(view.statusTexts, QStringList({"Downloading index-4119.fits", "Downloading index-4119.fits (1000 bytes)",
                                             "Downloading index-4117.fits", "Downloading index-4117.fits (3000 bytes)",
                                             "Downloading index-4219.fits", "Downloading index-4219.fits (-1 bytes)",
                                             "Done"}));
    EXPECT_EQ(view.queueProgress, QList<Progress>({{0, 3}, {1, 3}, {2, 3}, {3, 3}}));
    EXPECT_TRUE(view.fileProgress.contains(Progress(0, 3000))) << "a new file starts at 0";
    EXPECT_EQ(view.fileProgress.last(), Progress(2000, -1));
    EXPECT_EQ(view.transferring, QList<bool>({false, true, false}));
    EXPECT_EQ(dirs.entries(), QStringList({"index-4117.fits", "index-4119.fits", "index-4219.fits"}));
    EXPECT_EQ(dirs.read("index-4219.fits"), FakeIndexServer::fitsBody(2000));
}

TEST_F(DownloadQueueTest, ReportsProgressOfASlowAnswerAsItArrives) {
    server.serve("index-4119.fits", {.body = FakeIndexServer::fitsBody(64 * 1024), .chunkSize = 8 * 1024, .chunkDelayMs = 15});
    tick({"index-4119.fits"});
    ASSERT_TRUE(applyAndWait());
    QList<qint64> values;
    for (const Progress& progress : view.fileProgress)
        if (progress.first > 0) values << progress.first;
    EXPECT_GE(values.size(), 4);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(view.fileProgress.last(), Progress(64 * 1024, 64 * 1024));
}

// The second of four files fails: the queue stops there, nothing is left
// under the failed name, and the next apply fetches the rest.
class FailingFile : public DownloadQueueTest, public ::testing::WithParamInterface<std::pair<FakeIndexFile, QString>> {};

TEST_P(FailingFile, StopsTheQueueAndLeavesNoFile) {
    const QStringList keys = {"index-4119.fits", "index-4118.fits", "index-4117.fits", "index-4116.fits"};
    for (const QString& key : keys) server.serveFits(key, 3000);
    server.serve("index-4118.fits", GetParam().first);
    tick(keys);
    ASSERT_TRUE(applyAndWait());
    EXPECT_EQ(view.lastStatus(), "Downloading index-4118.fits" + GetParam().second + " - failed");
    EXPECT_EQ(server.requests(), QStringList({"/4100/index-4119.fits", "/4100/index-4118.fits"}));
    EXPECT_EQ(delegate.queue(), QStringList({"index-4117.fits", "index-4116.fits"}));
    EXPECT_EQ(view.transferring.last(), false);
    EXPECT_EQ(dirs.entries(), QStringList({"index-4119.fits"}));

    server.serveFits("index-4118.fits", 3000);
    ASSERT_TRUE(applyAndWait());
    EXPECT_EQ(view.lastStatus(), "Done");
    EXPECT_EQ(server.requests().mid(2),
              QStringList({"/4100/index-4118.fits", "/4100/index-4117.fits", "/4100/index-4116.fits"}));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FailingFile,
    ::testing::Values(std::pair(FakeIndexFile{.status = 404, .body = "<html>missing</html>"}, QString()),
                      std::pair(FakeIndexFile{.status = 500, .body = FakeIndexServer::fitsBody(3000)}, QString()),
                      std::pair(FakeIndexFile{.body = "<html>a portal login page</html>"}, QString(" (32 bytes)")),
                      std::pair(FakeIndexFile{.body = FakeIndexServer::fitsBody(40000), .cutAfter = 20000},
                                QString(" (40000 bytes)")),
                      std::pair(FakeIndexFile{.body = FakeIndexServer::fitsBody(40000), .cutAfter = 20000,
                                              .chunkSize = 4096, .chunkDelayMs = 5},
                                QString(" (40000 bytes)"))));

TEST_F(DownloadQueueTest, AbortStopsTheTransferAndLeavesNoFile) {
    server.serve("index-4119.fits", {.body = FakeIndexServer::fitsBody(400 * 1024), .chunkSize = 4096, .chunkDelayMs = 20});
    server.serveFits("index-4118.fits", 1000);
    tick({"index-4119.fits", "index-4118.fits"});
    delegate.go();
    ASSERT_TRUE(waitUntil([this] { return !view.fileProgress.isEmpty() && view.fileProgress.last().first > 0; }));
    for (const QString& entry : dirs.entries()) EXPECT_TRUE(entry.startsWith(".")) << "a partial file under the final name";
    delegate.abort();
    EXPECT_EQ(view.lastStatus(), "Aborted");
    EXPECT_TRUE(delegate.queue().isEmpty());
    EXPECT_EQ(view.queueProgress.last(), Progress(0, 2));
    EXPECT_EQ(view.transferring.last(), false);
    EXPECT_FALSE(delegate.transferring());
    QElapsedTimer clock;
    clock.start();
    waitUntil([&] { return clock.elapsed() > 200; });
    EXPECT_EQ(view.lastStatus(), "Aborted") << "a cancelled transfer reports nothing more";
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(dirs.entries().isEmpty()) << qPrintable(dirs.entries().join(", "));
    delegate.go();
    EXPECT_EQ(view.statusTexts.last(), "Downloading index-4119.fits") << "the aborted file is queued again";
    delegate.abort();
}

TEST(DownloadQueue, ReplacesFilesAndLinksWithoutWritingThroughThem) {
    IndexTestDirectories dirs;
    FakeIndexServer server;
    server.exportLocations();
    IndexDownloadQueue queue{dirs.folder()};
    bool done = false;
    QStringList notStarted;
    QObject::connect(&queue, &IndexDownloadQueue::allDone, [&] { done = true; });
    QObject::connect(&queue, &IndexDownloadQueue::fileNotStarted, [&](const QString& name) { notStarted << name; });
    queue.downloadNext();
    EXPECT_TRUE(done) << "an empty queue is done at once";

    done = false;
    dirs.write("index-4119.fits", "old content");
    dirs.writeDistribution("index-tycho2-18.littleendian.fits", "distribution file");
    ASSERT_TRUE(QFile::link(dirs.distribution() + "/index-tycho2-18.littleendian.fits", dirs.folder() + "/index-4118.fits"));
    server.serveFits("index-4119.fits", 2880);
    server.serveFits("index-4118.fits", 2880);
    for (const char* name : {"index-9999.fits", "index-4119.fits", "index-4118.fits"}) queue.enqueue(name);
    queue.downloadNext();
    EXPECT_EQ(notStarted, QStringList({"index-9999.fits"})) << "a name of neither series";
    EXPECT_EQ(queue.pending(), QStringList({"index-4119.fits", "index-4118.fits"}));
    queue.downloadNext();
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_EQ(dirs.read("index-4119.fits"), FakeIndexServer::fitsBody(2880));
    EXPECT_EQ(dirs.read("index-4118.fits"), FakeIndexServer::fitsBody(2880));
    EXPECT_FALSE(QFileInfo(dirs.folder() + "/index-4118.fits").isSymLink());
    QFile source(dirs.distribution() + "/index-tycho2-18.littleendian.fits");
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    EXPECT_EQ(source.readAll(), "distribution file");
}

}  // namespace
