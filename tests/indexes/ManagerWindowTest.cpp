// The Qt index manager window on the offscreen platform, driven by the real
// delegate against the loopback index-file server.
#include "app/IndexManagerWindow.h"
#include "indexes/IndexManagerDelegate.h"
#include "indexes/IndexTestSupport.h"
#include "support/FakeIndexServer.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace siderama;
using testsupport::FakeIndexServer;

namespace {

class ManagerWindowTest : public ::testing::Test {
protected:
    ManagerWindowTest() { server.exportLocations(); }

    template <typename T>
    T* child(const char* name) {
        T* widget = window.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString statusText() { return child<QLabel>("statusText")->text(); }

    IndexTestDirectories dirs;
    FakeIndexServer server;
    IndexManagerWindow window;
    IndexManagerDelegate delegate{window, dirs.folder(), DistributionIndexes(dirs.distribution())};
};

TEST_F(ManagerWindowTest, holdsOneThreeStateBoxPerKeyInItsSeriesGroup) {
    const auto boxes4100 = child<QGroupBox>("series4100")->findChildren<QCheckBox*>();
    const auto boxes4200 = child<QGroupBox>("series4200")->findChildren<QCheckBox*>();
    ASSERT_EQ(boxes4100.size(), 13);
    ASSERT_EQ(boxes4200.size(), 20);
    for (const QString& key : FILES().keys(IndexSeries::s4200)) {
        QCheckBox* box = window.checkBox(key);
        ASSERT_NE(box, nullptr) << key.toStdString();
        EXPECT_EQ(box->text(), key);
        EXPECT_TRUE(box->isTristate());
        EXPECT_TRUE(boxes4200.contains(box));
    }
    EXPECT_TRUE(boxes4100.contains(window.checkBox("index-4107.fits")));
    EXPECT_TRUE(child<QPushButton>("goButton")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("abortButton")->isEnabled());
}

TEST_F(ManagerWindowTest, showsTheStateOfTheIndexDirectory) {
    const QByteArray fits = FakeIndexServer::fitsBody(2880);
    dirs.write("index-4119.fits", fits);
    dirs.write("index-4205-03.fits", fits);
    delegate.show();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.checkBox("index-4119.fits")->checkState(), Qt::Checked);
    EXPECT_EQ(window.checkBox("index-4205-*.fits")->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(window.checkBox("index-4118.fits")->checkState(), Qt::Unchecked);
    EXPECT_TRUE(window.checkBox("index-4205-*.fits")->toolTip().startsWith("1 of 12"));
}

TEST_F(ManagerWindowTest, clicksToggleBetweenOnAndOff) {
    dirs.write("index-4205-03.fits", FakeIndexServer::fitsBody(2880));
    delegate.show();
    QCheckBox* split = window.checkBox("index-4205-*.fits");
    split->click();
    EXPECT_EQ(split->checkState(), Qt::Checked);
    split->click();
    EXPECT_EQ(split->checkState(), Qt::Unchecked);
    split->click();
    EXPECT_EQ(split->checkState(), Qt::Checked) << "a click never leaves the box mixed";
}

TEST_F(ManagerWindowTest, applyDownloadsTheTickedFiles) {
    server.serveFits("index-4119.fits", 5000);
    server.serveFits("index-4219.fits", 7000);
    delegate.show();
    window.checkBox("index-4119.fits")->click();
    window.checkBox("index-4219.fits")->click();
    child<QPushButton>("goButton")->click();
    EXPECT_FALSE(child<QPushButton>("goButton")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("abortButton")->isEnabled());
    ASSERT_TRUE(testsupport::waitUntil([this] { return statusText() == "Done"; }));

    EXPECT_EQ(dirs.entries(), QStringList({"index-4119.fits", "index-4219.fits"}));
    EXPECT_TRUE(child<QPushButton>("goButton")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("abortButton")->isEnabled());
    const auto* queue = child<QProgressBar>("queueIndicator");
    EXPECT_EQ(queue->maximum(), 2);
    EXPECT_EQ(queue->value(), 2);
    const auto* file = child<QProgressBar>("fileIndicator");
    EXPECT_EQ(file->maximum(), 7000);
    EXPECT_EQ(file->value(), 7000);
}

TEST_F(ManagerWindowTest, abortButtonStopsTheTransfer) {
    server.serve("index-4119.fits",
                 {.body = FakeIndexServer::fitsBody(400 * 1024), .chunkSize = 4096, .chunkDelayMs = 20});
    delegate.show();
    window.checkBox("index-4119.fits")->click();
    child<QPushButton>("goButton")->click();
    ASSERT_TRUE(testsupport::waitUntil([this] { return child<QProgressBar>("fileIndicator")->value() > 0; }));
    child<QPushButton>("abortButton")->click();
    EXPECT_EQ(statusText(), "Aborted");
    EXPECT_TRUE(child<QPushButton>("goButton")->isEnabled());
    EXPECT_EQ(child<QProgressBar>("queueIndicator")->value(), 0);
    EXPECT_TRUE(dirs.entries().isEmpty());
}

TEST_F(ManagerWindowTest, applyMovesUntickedFilesToTheTrash) {
    dirs.write("index-4210.fits", FakeIndexServer::fitsBody(2880));
    delegate.show();
    window.checkBox("index-4210.fits")->click();
    ASSERT_EQ(window.checkBox("index-4210.fits")->checkState(), Qt::Unchecked);
    child<QPushButton>("goButton")->click();
    EXPECT_EQ(statusText(), "Removed index-4210.fits");
    EXPECT_TRUE(dirs.entries().isEmpty());
    EXPECT_EQ(child<QProgressBar>("queueIndicator")->maximum(), 33);
}

}  // namespace
