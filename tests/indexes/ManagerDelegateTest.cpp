// The index manager's logic with a recording view: key states from the
// index folder, apply in both directions, the start-up check, links to the
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

QString part(int n) { return QString("index-4207-%1.fits").arg(n, 2, 10, QChar('0')); }

class ManagerDelegateTest : public ::testing::Test {
protected:
    ManagerDelegateTest() { server.exportLocations(); }

    IndexTestDirectories dirs;
    FakeIndexServer server;
    RecordingView view;
    IndexManagerDelegate delegate{view, dirs.folder(), DistributionIndexes(dirs.distribution())};
};

TEST_F(ManagerDelegateTest, KeyStatesComeFromTheFilesPresentAndLeftoversAreCleared) {
    dirs.write("index-4119.fits", fits);
    for (int n = 0; n <= 5; ++n) dirs.write(part(n), fits);
    dirs.write(".index-4118.fits.a1B2c3.part", "SIMPLE  = half a file");
    dirs.write("notes.part", "kept");
    delegate.show();
    EXPECT_EQ(view.statuses.size(), 33);
    EXPECT_EQ(view.statuses["index-4119.fits"].state, CheckState::on);
    const KeyStatus split = view.statuses["index-4207-*.fits"];
    EXPECT_EQ(std::tuple(split.state, split.present, split.total), std::tuple(CheckState::mixed, 6, 12));
    EXPECT_EQ(view.statuses["index-4118.fits"].state, CheckState::off);
    EXPECT_EQ(view.presented, 1);
    EXPECT_FALSE(dirs.entries().contains(".index-4118.fits.a1B2c3.part"));
    EXPECT_TRUE(dirs.entries().contains("notes.part"));

    delegate.go();  // a mixed key is left alone
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(view.queueProgress.last(), RecordingView::Progress(0, 33));
}

TEST_F(ManagerDelegateTest, AClickTurnsMixedIntoOnAndFetchesTheMissingParts) {
    EXPECT_EQ(IndexManagerDelegate::afterClick(CheckState::mixed), CheckState::on);
    for (int n = 0; n <= 11; ++n) server.serveFits(part(n), 2880);
    for (int n = 0; n <= 5; ++n) dirs.write(part(n), fits);
    delegate.show();
    view.states["index-4207-*.fits"] = IndexManagerDelegate::afterClick(view.states["index-4207-*.fits"]);
    delegate.go();
    ASSERT_TRUE(testsupport::waitUntil([this] { return !delegate.transferring(); }));
    QStringList expected;
    for (int n = 6; n <= 11; ++n) expected << "/4200/" + part(n);
    EXPECT_EQ(server.requests(), expected);
    EXPECT_EQ(dirs.entries().size(), 12);
}

TEST_F(ManagerDelegateTest, UntickedFilesGoToTheTrash) {
    dirs.write("index-4119.fits", fits);
    dirs.write("index-4116.fits", fits);
    delegate.show();
    view.states["index-4119.fits"] = CheckState::off;
    delegate.go();
    EXPECT_EQ(dirs.entries(), QStringList({"index-4116.fits"}));
    EXPECT_TRUE(trashedFiles().join(" ").contains("index-4119"));
    EXPECT_EQ(view.lastStatus(), "Removed index-4119.fits");
    EXPECT_EQ(view.transferring, QList<bool>({false})) << "nothing started";
}

TEST_F(ManagerDelegateTest, ShowsItselfAtStartOnlyWhenNoIndexIsInstalled) {
    RecordingView fresh;
    IndexManagerDelegate manager(fresh, dirs.folder() + "/new/Siderama", DistributionIndexes(dirs.distribution()));
    manager.showIfNoIndexFound();
    EXPECT_EQ(fresh.presented, 1);
    EXPECT_TRUE(QFileInfo(dirs.folder() + "/new/Siderama").isDir());

    ASSERT_TRUE(QFile::link(dirs.distribution() + "/gone.fits", dirs.folder() + "/index-4119.fits"));
    delegate.showIfNoIndexFound();
    EXPECT_EQ(view.presented, 1) << "a link to a vanished file is no index";
    dirs.write("index-4200-47.fits", fits);
    RecordingView again;
    IndexManagerDelegate installed(again, dirs.folder(), DistributionIndexes(dirs.distribution()));
    installed.showIfNoIndexFound();
    EXPECT_EQ(again.presented, 0);
}

TEST(ManagerDelegateDeathTest, EndsTheProcessWhenTheFolderCannotBeCreated) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RecordingView view;
    EXPECT_EXIT(IndexManagerDelegate(view, "/proc/siderama-test/Siderama", DistributionIndexes("/nonexistent")).show(),
                ::testing::ExitedWithCode(1), "Can't create /proc/siderama-test/Siderama");
}

TEST_F(ManagerDelegateTest, LinksAndUnlinksFilesTheDistributionInstalled) {
    dirs.writeDistribution("index-tycho2-12.littleendian.fits", fits);
    dirs.writeDistribution("index-4208.fits", fits);
    delegate.show();
    EXPECT_EQ(view.statuses["index-4112.fits"].linkable, 1);
    view.states["index-4112.fits"] = CheckState::on;
    view.states["index-4208.fits"] = CheckState::on;
    delegate.go();
    EXPECT_TRUE(server.requests().isEmpty());
    const QFileInfo link(dirs.folder() + "/index-4112.fits");
    EXPECT_EQ(link.symLinkTarget(), dirs.distribution() + "/index-tycho2-12.littleendian.fits");
    EXPECT_TRUE(QFileInfo(dirs.folder() + "/index-4208.fits").isSymLink());
    EXPECT_EQ(view.statusTexts, QStringList({"Linked index-4112.fits", "Linked index-4208.fits"}));

    delegate.show();
    EXPECT_EQ(view.statuses["index-4112.fits"].state, CheckState::on);
    view.states["index-4112.fits"] = CheckState::off;
    delegate.go();
    EXPECT_FALSE(QFileInfo::exists(dirs.folder() + "/index-4112.fits"));
    EXPECT_TRUE(QFileInfo::exists(dirs.distribution() + "/index-tycho2-12.littleendian.fits"));
    delegate.readme();
    EXPECT_EQ(view.opened, QList<QUrl>({IndexServer::readmeLocation()}));
}

}  // namespace
