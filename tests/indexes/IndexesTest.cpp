// The index catalogue, the download queue against a loopback index-file server, the index manager with a
// recording view and with its window (offscreen), and the terminal commands.
#include "app/IndexManagerWindow.h"
#include "cli/IndexCommands.h"
#include "cli/IndexConsoleView.h"
#include "indexes/IndexDownloadQueue.h"
#include "indexes/IndexTestSupport.h"
#include "indexes/IndexServer.h"
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

using namespace siderama;
using testsupport::FakeIndexServer;
using testsupport::waitUntil;

namespace {
using Progress = RecordingView::Progress;

QString part(const char* key, int n) { return QString("index-%1-%2.fits").arg(key).arg(n, 2, 10, QChar('0')); }

class DownloadQueueTest : public ManagerFixture {
protected:
    void tick(const QStringList& keys) {
        for (const QString& key : keys) view.states[key] = CheckState::on;
    }
};

TEST_F(DownloadQueueTest, FetchesOneFileAfterAnotherSeries4100FirstWithProgress) {
    server.serveFits("index-4119.fits", 1000);
    server.serveFits("index-4117.fits", 3000);
    server.serveFits("index-4219.fits", 2000);
    tick({"index-4219.fits", "index-4117.fits", "index-4119.fits"});
    ASSERT_TRUE(applyAndWait());
    EXPECT_EQ(server.requests(), QStringList({"/4100/index-4119.fits", "/4100/index-4117.fits", "/4200/index-4219.fits"}));
    EXPECT_EQ(server.mostConnections(), 1) << "transfers overlap";
    EXPECT_EQ(view.statusTexts, QStringList({"Downloading index-4119.fits", "Downloading index-4119.fits (1000 bytes)",
                                             "Downloading index-4117.fits", "Downloading index-4117.fits (3000 bytes)",
                                             "Downloading index-4219.fits", "Downloading index-4219.fits (2000 bytes)",
                                             "Done"}));
    EXPECT_EQ(view.queueProgress, QList<Progress>({{0, 3}, {1, 3}, {2, 3}, {3, 3}}));
    EXPECT_TRUE(view.fileProgress.contains(Progress(0, 3000))) << "a new file starts at 0";
    EXPECT_EQ(view.fileProgress.last(), Progress(2000, 2000));
    ASSERT_FALSE(view.bytes.isEmpty());  // sizes learnt only from the answers add up
    const TransferProgress last = view.bytes.last();
    EXPECT_EQ(QList<qint64>({last.fileDone, last.fileTotal, last.queueDone, last.queueTotal}),
              QList<qint64>({2000, 2000, 6000, 6000}));
    EXPECT_EQ(view.transferring, QList<bool>({false, true, false}));
    EXPECT_EQ(dirs.entries(), QStringList({"index-4117.fits", "index-4119.fits", "index-4219.fits"}));
    EXPECT_EQ(dirs.read("index-4219.fits"), testsupport::fitsBytes(2000));
}

// The second of four files fails (each kind of failure is caught by the download itself): the queue stops there,
// nothing is left under the failed name, and the next apply fetches the rest.
TEST_F(DownloadQueueTest, AFailingFileStopsTheQueueAndLeavesNoFile) {
    const QStringList keys = {"index-4119.fits", "index-4118.fits", "index-4117.fits", "index-4116.fits"};
    for (const QString& key : keys) server.serveFits(key, 3000);
    server.serve("index-4118.fits", {.body = testsupport::fitsBytes(40000), .cutAfter = 20000});
    tick(keys);
    ASSERT_TRUE(applyAndWait());
    EXPECT_EQ(view.lastStatus(), "Downloading index-4118.fits (40000 bytes) - failed");
    QStringList fetched = server.requests();
    fetched.removeDuplicates();  // transient failures are retried
    EXPECT_EQ(fetched, QStringList({"/4100/index-4119.fits", "/4100/index-4118.fits"}));
    EXPECT_EQ(delegate.queue(), QStringList({"index-4117.fits", "index-4116.fits"}));
    EXPECT_EQ(view.transferring.last(), false);
    EXPECT_EQ(dirs.entries(), QStringList({"index-4119.fits"}));
    server.serveFits("index-4118.fits", 3000);
    const qsizetype before = server.requests().size();
    ASSERT_TRUE(applyAndWait());
    EXPECT_EQ(view.lastStatus(), "Done");
    EXPECT_EQ(server.requests().mid(before),
              QStringList({"/4100/index-4118.fits", "/4100/index-4117.fits", "/4100/index-4116.fits"}));
}

TEST_F(DownloadQueueTest, AbortStopsTheTransferAndLeavesNoFile) {
    server.serve("index-4119.fits", {.body = testsupport::fitsBytes(400 * 1024), .chunkSize = 4096, .chunkDelayMs = 20});
    server.serveFits("index-4118.fits", 1000);
    tick({"index-4119.fits", "index-4118.fits"});
    delegate.go();
    // Progress is reported as the bytes arrive, long before the end.
    ASSERT_TRUE(waitUntil([this] { return !view.fileProgress.isEmpty() && view.fileProgress.last().first > 0; }));
    for (const QString& entry : dirs.entries()) EXPECT_TRUE(entry.startsWith(".")) << "a partial file under the final name";
    delegate.abort();
    EXPECT_EQ(view.lastStatus(), "Aborted");
    EXPECT_TRUE(delegate.queue().isEmpty());
    EXPECT_EQ(view.queueProgress.last(), Progress(0, 2));
    EXPECT_EQ(view.transferring.last(), false);
    EXPECT_FALSE(delegate.transferring());
    waitUntil([] { return false; }, std::chrono::milliseconds(200));  // time for a late report
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
    IndexDownloadQueue queue{dirs.folder(), fastPolicy()};
    bool done = false;
    QObject::connect(&queue, &IndexDownloadQueue::allDone, [&] { done = true; });
    dirs.write("index-4119.fits", "old content");
    dirs.writeDistribution("index-tycho2-18.littleendian.fits", "distribution file");
    ASSERT_TRUE(QFile::link(dirs.distribution() + "/index-tycho2-18.littleendian.fits", dirs.folder() + "/index-4118.fits"));
    server.serveFits("index-4119.fits", 2880);
    server.serveFits("index-4118.fits", 2880);
    for (const char* name : {"index-4119.fits", "index-4118.fits"}) queue.enqueue(name);
    queue.downloadNext();
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_EQ(dirs.read("index-4119.fits") + dirs.read("index-4118.fits"), testsupport::fitsBytes(2880).repeated(2));
    EXPECT_FALSE(QFileInfo(dirs.folder() + "/index-4118.fits").isSymLink());
    EXPECT_EQ(testsupport::readFile(dirs.distribution() + "/index-tycho2-18.littleendian.fits"), "distribution file");
}

const QByteArray fits = testsupport::fitsBytes(2880);

using ManagerDelegateTest = DownloadQueueTest;

TEST_F(ManagerDelegateTest, KeyStatesComeFromTheFilesPresentAndUntickedFilesGoToTheTrash) {
    dirs.write("index-4119.fits", fits);
    for (int n = 0; n <= 5; ++n) dirs.write(part("4207", n), fits);
    ASSERT_TRUE(delegate.show());
    EXPECT_EQ(view.statuses.size(), 33);
    EXPECT_EQ(view.statuses["index-4119.fits"].state, CheckState::on);
    const KeyStatus split = view.statuses["index-4207-*.fits"];
    EXPECT_EQ(std::tuple(split.state, split.present, split.total), std::tuple(CheckState::mixed, 6, 12));
    EXPECT_EQ(view.statuses["index-4118.fits"].state, CheckState::off);
    EXPECT_EQ(view.presented, 1);
    delegate.go();  // a mixed key is left alone
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(view.queueProgress.last(), Progress(0, 33));
    view.states["index-4119.fits"] = CheckState::off;
    delegate.go();
    EXPECT_FALSE(dirs.entries().contains("index-4119.fits"));
    EXPECT_TRUE(trashedFiles().join(" ").contains("index-4119"));
    EXPECT_EQ(view.lastStatus(), "Removed index-4119.fits");
    EXPECT_FALSE(view.transferring.contains(true)) << "nothing started";
}

TEST_F(ManagerDelegateTest, ShowsItselfAtStartOnlyWhenNoIndexIsInstalled) {
    RecordingView fresh;
    IndexManagerDelegate manager(fresh, dirs.folder() + "/new/Siderama", DistributionIndexes(dirs.distribution()));
    EXPECT_TRUE(manager.showIfNoIndexFound());
    EXPECT_EQ(fresh.presented, 1);
    EXPECT_TRUE(QFileInfo(dirs.folder() + "/new/Siderama").isDir());
    ASSERT_TRUE(QFile::link(dirs.distribution() + "/gone.fits", dirs.folder() + "/index-4119.fits"));
    EXPECT_TRUE(delegate.showIfNoIndexFound());
    EXPECT_EQ(view.presented, 1) << "a link to a vanished file is no index";
    dirs.write("index-4200-47.fits", fits);
    RecordingView again;
    IndexManagerDelegate installed(again, dirs.folder(), DistributionIndexes(dirs.distribution()));
    EXPECT_TRUE(installed.showIfNoIndexFound());
    EXPECT_EQ(again.presented, 0);
}

// The caller ends the program (tests/app); the manager only refuses.
TEST(ManagerDelegate, RefusesToShowWhenTheFolderCannotBeCreated) {
    RecordingView view;
    IndexManagerDelegate manager(view, "/proc/siderama-test/Siderama", DistributionIndexes("/nonexistent"));
    EXPECT_FALSE(manager.show());
    EXPECT_FALSE(manager.showIfNoIndexFound());
    EXPECT_EQ(view.presented, 0);
}

TEST_F(ManagerDelegateTest, LinksAndUnlinksFilesTheDistributionInstalled) {
    dirs.writeDistribution("index-tycho2-12.littleendian.fits", fits);
    dirs.writeDistribution("index-4208.fits", fits);
    ASSERT_TRUE(delegate.show());
    EXPECT_EQ(view.statuses["index-4112.fits"].linkable, 1);
    view.states["index-4112.fits"] = CheckState::on;
    view.states["index-4208.fits"] = CheckState::on;
    delegate.go();
    EXPECT_TRUE(server.requests().isEmpty());
    const QFileInfo link(dirs.folder() + "/index-4112.fits");
    EXPECT_EQ(link.symLinkTarget(), dirs.distribution() + "/index-tycho2-12.littleendian.fits");
    EXPECT_TRUE(QFileInfo(dirs.folder() + "/index-4208.fits").isSymLink());
    EXPECT_EQ(view.statusTexts, QStringList({"Linked index-4112.fits", "Linked index-4208.fits"}));
    ASSERT_TRUE(delegate.show());
    EXPECT_EQ(view.statuses["index-4112.fits"].state, CheckState::on);
    view.states["index-4112.fits"] = CheckState::off;
    delegate.go();
    EXPECT_FALSE(QFileInfo::exists(dirs.folder() + "/index-4112.fits"));
    EXPECT_TRUE(QFileInfo::exists(dirs.distribution() + "/index-tycho2-12.littleendian.fits"));
    delegate.readme();
    EXPECT_EQ(view.opened, QList<QUrl>({IndexServer::readmeLocation()}));
}

// The window's boxes, buttons and labels wired to the manager (the logic
// behind them: the delegate's tests above).
class ManagerWindowTest : public ::testing::Test {
protected:
    ManagerWindowTest() { server.exportLocations(); }
    template <typename T> T* child(const char* name) {
        T* widget = window.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // Whether Apply and Abort are enabled.
    std::pair<bool, bool> buttons() {
        return {child<QPushButton>("goButton")->isEnabled(), child<QPushButton>("abortButton")->isEnabled()};
    }
    QString statusText() { return child<QLabel>("statusText")->text(); }
    IndexTestDirectories dirs;
    FakeIndexServer server;
    IndexManagerWindow window;
    IndexManagerDelegate delegate{window, dirs.folder(), DistributionIndexes(dirs.distribution()), fastPolicy()};
};

// A typed field width ticks its boxes and shows their cost; a click on a mixed box ticks it; Apply downloads
// what is ticked and Abort stops a transfer.
TEST_F(ManagerWindowTest, PlanApplyAndAbort) {
    for (const int n : {0, 4, 5, 6, 7, 8, 9, 10, 11}) dirs.write(part("4205", n), fits);
    for (const int n : {1, 2, 3}) server.serveFits(part("4205", n), n == 3 ? 7000 : 100);
    for (int index = 4110; index <= 4116; ++index) server.serveFits(QString("index-%1.fits").arg(index), 2000);
    ASSERT_TRUE(delegate.show());
    const auto plan = [&](const QString& width) {
        child<QLineEdit>("fieldWidth")->setText(width);
        child<QPushButton>("planButton")->click();
        return statusText();
    };
    EXPECT_EQ(plan("wide"), "Type the field width in degrees (2.5) or arcminutes (40')");
    plan("10°");
    EXPECT_TRUE(window.checkBox("index-4110.fits")->isChecked() && !window.checkBox("index-4117.fits")->isChecked());
    ASSERT_TRUE(waitUntil([&] { return !delegate.sizing(); }));
    EXPECT_TRUE(child<QLabel>("costText")->text().startsWith("To download: 7 files, 14 kB"));
    QCheckBox* split = window.checkBox("index-4205-*.fits");
    EXPECT_EQ(split->checkState(), Qt::PartiallyChecked);
    EXPECT_TRUE(split->toolTip().startsWith("9 of 12")) << qPrintable(split->toolTip());
    split->click();
    EXPECT_EQ(split->checkState(), Qt::Checked) << "a click never leaves the box mixed";
    child<QPushButton>("goButton")->click();
    EXPECT_EQ(buttons(), std::pair(false, true));
    ASSERT_TRUE(waitUntil([this] { return statusText() == "Done"; }));
    EXPECT_EQ(dirs.entries().size(), 19);
    EXPECT_EQ(buttons(), std::pair(true, false));
    EXPECT_EQ(child<QProgressBar>("queueIndicator")->value(), 10);
    EXPECT_EQ(child<QProgressBar>("fileIndicator")->value(), 7000);
    server.serve("index-4118.fits", {.body = testsupport::fitsBytes(400 * 1024), .chunkSize = 4096, .chunkDelayMs = 20});
    window.checkBox("index-4118.fits")->click();
    child<QPushButton>("goButton")->click();
    ASSERT_TRUE(waitUntil([this] { return statusText().startsWith("Downloading index-4118.fits ("); }));
    child<QPushButton>("abortButton")->click();
    EXPECT_EQ(statusText(), "Aborted");
    EXPECT_EQ(dirs.entries().size(), 19) << "no partial file left";
}

using IndexCommands = ManagerFixture;

TEST_F(IndexCommands, ArgumentTable) {
    server.serveFits("index-4119.fits", 3000);
    for (int n = 0; n <= 11; ++n) server.serveFits(part("4206", n), 100);
    for (const int n : {4110, 4111, 4112, 4113, 4114, 4116}) server.serveFits(QString("index-%1.fits").arg(n), 100);
    server.serve("index-4118.fits", {.status = 404, .body = "missing"});
    dirs.writeDistribution("index-tycho2-15.littleendian.fits", fits);
    dirs.write("index-4117.fits", fits);
    const std::vector<std::pair<QStringList, int>> cases{
        {{"--fetch-index", "4119", "index-4206-*.fits"}, 0}, {{"--fetch-index", "4118"}, 1}, {{"--fetch-index", "4115"}, 0},
        {{"--remove-index", "index-4117.fits"}, 0}, {{"--indexes"}, 0}, {{"--fetch-index", "4300"}, 2},
        {{"--fetch-index", "index-4207-00.fits"}, 2}, {{"--remove-index"}, 2}, {{"--fetch-index", "--headless"}, 2},
        {{"--fetch-index", "--for-field", "wide"}, 2}, {{"--fetch-index", "--for-field", "10"}, 0}};
    for (const auto& [arguments, status] : cases)
        EXPECT_EQ(runIndexCommand(QStringList{"siderama"} + arguments, dirs.folder(), fastPolicy()), status)
            << qPrintable(arguments.join(' '));
    EXPECT_EQ(dirs.entries().size(), 20) << "4119, twelve parts of 4206, a link for 4115, the rest of a 10° field";
    EXPECT_TRUE(QFileInfo(dirs.folder() + "/index-4115.fits").isSymLink());
    EXPECT_EQ(server.requests().size(), 20);
    EXPECT_EQ(IndexConsoleView::describe("index-4207-*.fits", {CheckState::mixed, 6, 12, 0}), "[-] index-4207-*.fits     6/12 files");
    EXPECT_EQ(IndexConsoleView::describe("index-4110.fits", {CheckState::off, 0, 1, 1}),
              "[ ] index-4110.fits       0/1 files, 1 installed by the distribution");
}
}  // namespace
