// The index manager's logic with a recording view: key states from the
// index directory, apply in both directions, start-up check, links to the
// distribution's files.
#include "indexes/IndexManagerDelegate.h"
#include "indexes/IndexServer.h"
#include "indexes/IndexTestSupport.h"
#include "indexes/RecordingView.h"
#include "support/FakeIndexServer.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace siderama;
using testsupport::FakeIndexServer;

namespace {

const QByteArray fits = FakeIndexServer::fitsBody(2880);

class ManagerDelegateTest : public ::testing::Test {
protected:
    ManagerDelegateTest() { server.exportLocations(); }

    IndexTestDirectories dirs;
    FakeIndexServer server;
    RecordingView view;
    IndexManagerDelegate delegate{view, dirs.folder(), DistributionIndexes(dirs.distribution())};
};

TEST_F(ManagerDelegateTest, setsEachKeyFromTheFilesPresent) {
    dirs.write("index-4119.fits", fits);
    for (int part = 0; part <= 5; ++part) dirs.write(QString("index-4207-%1.fits").arg(part, 2, 10, QChar('0')), fits);
    dirs.write("index-4207-00.fits.part", fits);
    delegate.show();

    EXPECT_EQ(view.statuses.size(), 33);
    EXPECT_EQ(view.statuses["index-4119.fits"].state, CheckState::on);
    const KeyStatus split = view.statuses["index-4207-*.fits"];
    EXPECT_EQ(split.state, CheckState::mixed);
    EXPECT_EQ(split.present, 6);
    EXPECT_EQ(split.total, 12);
    EXPECT_EQ(view.statuses["index-4118.fits"].state, CheckState::off);
    EXPECT_EQ(view.statuses["index-4200-*.fits"].state, CheckState::off);
    EXPECT_EQ(view.presented, 1);
}

TEST_F(ManagerDelegateTest, leavesAMixedKeyAlone) {
    for (int part = 0; part <= 5; ++part) dirs.write(QString("index-4207-%1.fits").arg(part, 2, 10, QChar('0')), fits);
    delegate.show();
    delegate.go();
    EXPECT_TRUE(delegate.queue().isEmpty());
    EXPECT_EQ(dirs.entries().size(), 6);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(view.queueProgress.last(), RecordingView::Progress(0, 33));
}

TEST_F(ManagerDelegateTest, aClickTurnsMixedIntoOnAndQueuesTheMissingParts) {
    EXPECT_EQ(IndexManagerDelegate::afterClick(CheckState::mixed), CheckState::on);
    EXPECT_EQ(IndexManagerDelegate::afterClick(CheckState::off), CheckState::off);
    EXPECT_EQ(IndexManagerDelegate::afterClick(CheckState::on), CheckState::on);

    for (int part = 0; part <= 11; ++part) server.serveFits(QString("index-4207-%1.fits").arg(part, 2, 10, QChar('0')), 2880);
    for (int part = 0; part <= 5; ++part) dirs.write(QString("index-4207-%1.fits").arg(part, 2, 10, QChar('0')), fits);
    delegate.show();
    view.states["index-4207-*.fits"] = IndexManagerDelegate::afterClick(view.states["index-4207-*.fits"]);
    delegate.go();
    ASSERT_TRUE(testsupport::waitUntil([this] { return !delegate.transferring(); }));
    QStringList expected;
    for (int part = 6; part <= 11; ++part) expected << QString("/4200/index-4207-%1.fits").arg(part, 2, 10, QChar('0'));
    EXPECT_EQ(server.requests(), expected);
    EXPECT_EQ(view.lastStatus(), "Done");
    EXPECT_EQ(dirs.entries().size(), 12);
}

TEST_F(ManagerDelegateTest, movesUntickedFilesToTheTrash) {
    dirs.write("index-4119.fits", fits);
    dirs.write("index-4116.fits", fits);
    delegate.show();
    view.states["index-4119.fits"] = CheckState::off;
    const qsizetype trashedBefore = trashedFiles().size();
    delegate.go();

    EXPECT_EQ(dirs.entries(), QStringList({"index-4116.fits"}));
    EXPECT_EQ(trashedFiles().size(), trashedBefore + 1);
    EXPECT_TRUE(trashedFiles().join(" ").contains("index-4119"));
    EXPECT_EQ(view.lastStatus(), "Removed index-4119.fits");
    EXPECT_TRUE(delegate.queue().isEmpty());
    EXPECT_EQ(view.transferring, QList<bool>({false})) << "nothing started";
    EXPECT_EQ(view.queueProgress.last(), RecordingView::Progress(0, 33));
}

TEST_F(ManagerDelegateTest, showsWhenNoIndexIsFoundAndCreatesTheFolder) {
    QDir(dirs.folder()).removeRecursively();
    RecordingView fresh;
    IndexManagerDelegate manager(fresh, dirs.folder() + "/new/Siderama", DistributionIndexes(dirs.distribution()));
    manager.showIfNoIndexFound();
    EXPECT_EQ(fresh.presented, 1);
    EXPECT_TRUE(QFileInfo(dirs.folder() + "/new/Siderama").isDir());
    EXPECT_EQ(fresh.statuses.size(), 33);
}

TEST_F(ManagerDelegateTest, staysHiddenWhenAnIndexIsInstalled) {
    dirs.write("index-4200-47.fits", fits);
    delegate.showIfNoIndexFound();
    EXPECT_EQ(view.presented, 0);
    EXPECT_TRUE(view.statuses.isEmpty());
}

TEST_F(ManagerDelegateTest, countsALinkToAVanishedFileAsMissing) {
    ASSERT_TRUE(QFile::link(dirs.distribution() + "/gone.fits", dirs.folder() + "/index-4119.fits"));
    delegate.showIfNoIndexFound();
    EXPECT_EQ(view.presented, 1);
    EXPECT_EQ(view.statuses["index-4119.fits"].state, CheckState::off);
}

TEST(ManagerDelegateDeathTest, endsTheProcessWhenTheFolderCannotBeCreated) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RecordingView view;
    EXPECT_EXIT(
        {
            IndexManagerDelegate manager(view, "/proc/siderama-test/Siderama", DistributionIndexes("/nonexistent"));
            manager.show();
        },
        ::testing::ExitedWithCode(1), "Can't create /proc/siderama-test/Siderama");
}

TEST_F(ManagerDelegateTest, linksFilesTheDistributionInstalled) {
    dirs.writeDistribution("index-tycho2-12.littleendian.fits", fits);
    dirs.writeDistribution("index-4208.fits", fits);
    delegate.show();
    const KeyStatus status = view.statuses["index-4112.fits"];
    EXPECT_EQ(status.state, CheckState::off);
    EXPECT_EQ(status.linkable, 1);
    view.states["index-4112.fits"] = CheckState::on;
    view.states["index-4208.fits"] = CheckState::on;
    delegate.go();

    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_FALSE(delegate.transferring());
    const QFileInfo link(dirs.folder() + "/index-4112.fits");
    EXPECT_TRUE(link.isSymLink());
    EXPECT_EQ(link.symLinkTarget(), dirs.distribution() + "/index-tycho2-12.littleendian.fits");
    EXPECT_TRUE(QFileInfo(dirs.folder() + "/index-4208.fits").isSymLink());
    EXPECT_EQ(view.statusTexts, QStringList({"Linked index-4112.fits", "Linked index-4208.fits"}));

    delegate.show();
    EXPECT_EQ(view.statuses["index-4112.fits"].state, CheckState::on);
    view.states["index-4112.fits"] = CheckState::off;
    delegate.go();
    EXPECT_FALSE(QFileInfo(dirs.folder() + "/index-4112.fits").exists());
    EXPECT_TRUE(QFileInfo::exists(dirs.distribution() + "/index-tycho2-12.littleendian.fits"))
        << "removing the link keeps the distribution's file";
    EXPECT_EQ(view.lastStatus(), "Removed index-4112.fits");
}

TEST_F(ManagerDelegateTest, opensTheReadmePage) {
    delegate.readme();
    EXPECT_EQ(view.opened, QList<QUrl>({IndexServer::readmeLocation()}));
}

}  // namespace
