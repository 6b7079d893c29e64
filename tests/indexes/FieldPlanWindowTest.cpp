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

TEST(FieldPlanWindow, typedWidthTicksTheBoxesAndShowsTheCost) {
    IndexTestDirectories dirs;
    testsupport::FakeIndexServer server;
    server.exportLocations();
    IndexManagerWindow window;
    IndexManagerDelegate delegate{window, dirs.folder(), DistributionIndexes(dirs.distribution()), fastPolicy()};
    delegate.show();
    const auto plan = [&](const QString& width) {
        window.findChild<QLineEdit*>("fieldWidth")->setText(width);
        window.findChild<QPushButton*>("planButton")->click();
        return window.findChild<QLabel*>("statusText")->text();
    };
    EXPECT_EQ(plan("wide"), "Type the field width in degrees (2.5) or arcminutes (40')");
    for (int index = 4110; index <= 4116; ++index) server.serveFits(QString("index-%1.fits").arg(index), 2000);
    plan("10°");
    for (int index = 4107; index <= 4119; ++index)
        EXPECT_EQ(window.checkBox(QString("index-%1.fits").arg(index))->isChecked(), index >= 4110 && index <= 4116);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !delegate.sizing(); }));
    EXPECT_TRUE(window.findChild<QLabel*>("costText")->text().startsWith("To download: 7 files, 14 kB"));
}
