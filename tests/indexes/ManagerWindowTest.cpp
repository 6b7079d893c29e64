// The index manager window on the offscreen platform, driven by the real
// delegate against the loopback index-file server: tick, apply, abort.
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
    bool applyEnabled() { return child<QPushButton>("goButton")->isEnabled(); }
    bool abortEnabled() { return child<QPushButton>("abortButton")->isEnabled(); }
    QString statusText() { return child<QLabel>("statusText")->text(); }

    IndexTestDirectories dirs;
    FakeIndexServer server;
    IndexManagerWindow window;
    IndexManagerDelegate delegate{window, dirs.folder(), DistributionIndexes(dirs.distribution())};
};

TEST_F(ManagerWindowTest, ApplyDownloadsTheTickedFiles) {
    EXPECT_EQ(child<QGroupBox>("series4100")->findChildren<QCheckBox*>().size(), 13);
    EXPECT_EQ(child<QGroupBox>("series4200")->findChildren<QCheckBox*>().size(), 20);
    server.serveFits("index-4119.fits", 5000);
    server.serveFits("index-4205-03.fits", 7000);
    dirs.write("index-4205-00.fits", FakeIndexServer::fitsBody(2880));
    for (int n = 4; n <= 11; ++n) dirs.write(QString("index-4205-%1.fits").arg(n, 2, 10, QChar('0')), FakeIndexServer::fitsBody(2880));
    server.serveFits("index-4205-01.fits", 100);
    server.serveFits("index-4205-02.fits", 100);
    delegate.show();
    QCheckBox* split = window.checkBox("index-4205-*.fits");
    EXPECT_EQ(split->checkState(), Qt::PartiallyChecked);
    EXPECT_TRUE(split->toolTip().startsWith("9 of 12")) << qPrintable(split->toolTip());
    split->click();
    EXPECT_EQ(split->checkState(), Qt::Checked) << "a click never leaves the box mixed";
    window.checkBox("index-4119.fits")->click();
    child<QPushButton>("goButton")->click();
    EXPECT_FALSE(applyEnabled());
    EXPECT_TRUE(abortEnabled());
    ASSERT_TRUE(testsupport::waitUntil([this] { return statusText() == "Done"; }));
    EXPECT_EQ(dirs.entries().size(), 13);
    EXPECT_TRUE(applyEnabled());
    EXPECT_FALSE(abortEnabled());
    EXPECT_EQ(child<QProgressBar>("queueIndicator")->value(), 4);
    EXPECT_EQ(child<QProgressBar>("fileIndicator")->value(), 7000);
}

TEST_F(ManagerWindowTest, AbortButtonStopsTheTransfer) {
    server.serve("index-4119.fits", {.body = FakeIndexServer::fitsBody(400 * 1024), .chunkSize = 4096, .chunkDelayMs = 20});
    delegate.show();
    window.checkBox("index-4119.fits")->click();
    child<QPushButton>("goButton")->click();
    ASSERT_TRUE(testsupport::waitUntil([this] { return child<QProgressBar>("fileIndicator")->value() > 0; }));
    child<QPushButton>("abortButton")->click();
    EXPECT_EQ(statusText(), "Aborted");
    EXPECT_TRUE(applyEnabled());
    EXPECT_EQ(child<QProgressBar>("queueIndicator")->value(), 0);
    EXPECT_TRUE(dirs.entries().isEmpty());
}

}  // namespace
