// Field-of-view planning in the Qt index manager window (offscreen).
#include "app/IndexManagerWindow.h"
#include "indexes/DownloadTestSupport.h"
#include "indexes/IndexManagerDelegate.h"
#include "indexes/IndexTestSupport.h"
#include "support/FakeIndexServer.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace siderama;
using testsupport::FakeIndexServer;

namespace {

class FieldPlanWindowTest : public ::testing::Test {
protected:
    FieldPlanWindowTest() {
        server.exportLocations();
        delegate.show();
    }
    QString text(const char* label) { return window.findChild<QLabel*>(label)->text(); }
    void plan(const QString& width) {
        window.findChild<QLineEdit*>("fieldWidth")->setText(width);
        window.findChild<QPushButton*>("planButton")->click();
    }

    IndexTestDirectories dirs;
    FakeIndexServer server;
    IndexManagerWindow window;
    IndexManagerDelegate delegate{window, dirs.folder(), DistributionIndexes(dirs.distribution()), fastPolicy()};
};

TEST_F(FieldPlanWindowTest, typedWidthTicksTheBoxesAndShowsTheCost) {
    for (int index = 4110; index <= 4116; ++index) server.serveFits(QString("index-%1.fits").arg(index), 2000);
    plan("10°");
    for (int index = 4107; index <= 4119; ++index)
        EXPECT_EQ(window.checkBox(QString("index-%1.fits").arg(index))->isChecked(), index >= 4110 && index <= 4116);
    ASSERT_TRUE(testsupport::waitUntil([this] { return !delegate.sizing(); }));
    EXPECT_TRUE(text("costText").startsWith("To download: 7 files, 14 kB")) << text("costText").toStdString();
    EXPECT_EQ(server.headRequests().size(), 7);
}

TEST_F(FieldPlanWindowTest, refusesWhatIsNotAWidth) {
    plan("wide");
    EXPECT_EQ(text("statusText"), "Type the field width in degrees (2.5) or arcminutes (40')");
    window.findChild<QPushButton*>("lastSolveButton")->click();
    EXPECT_EQ(text("statusText"), "No image has been solved yet: type the field width");
}

}  // namespace
