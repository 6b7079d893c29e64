// The terminal commands --indexes, --fetch-index and --remove-index.
#include "cli/IndexCommands.h"
#include "cli/IndexConsoleView.h"
#include "indexes/IndexTestSupport.h"
#include "support/FakeIndexServer.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace siderama;
using testsupport::FakeIndexFile;
using testsupport::FakeIndexServer;

namespace {

class IndexCommandsTest : public ::testing::Test {
protected:
    IndexCommandsTest() {
        server.exportLocations();
        qputenv("SIDERAMA_DISTRIBUTION_INDEX_DIR", dirs.distribution().toUtf8());
    }
    int run(const QStringList& arguments) { return runIndexCommand(QStringList{"siderama"} + arguments, dirs.folder()); }

    IndexTestDirectories dirs;
    FakeIndexServer server;
};

TEST_F(IndexCommandsTest, fetchesKeysByNameOrNumber) {
    server.serveFits("index-4119.fits", 3000);
    for (int part = 0; part <= 11; ++part) server.serveFits(QString("index-4206-%1.fits").arg(part, 2, 10, QChar('0')), 100);
    EXPECT_EQ(run({"--fetch-index", "4119", "index-4206-*.fits"}), 0);
    EXPECT_EQ(dirs.entries().size(), 13);
    EXPECT_EQ(server.requests().first(), "/4100/index-4119.fits");
    EXPECT_EQ(run({"--indexes"}), 0);
}

TEST_F(IndexCommandsTest, failsWhenAFileCannotBeFetched) {
    server.serveFits("index-4119.fits", 3000);
    server.serve("index-4118.fits", FakeIndexFile{.status = 404, .body = "missing"});
    EXPECT_EQ(run({"--fetch-index", "4119", "4118"}), 1);
    EXPECT_EQ(dirs.entries(), QStringList({"index-4119.fits"}));
}

TEST_F(IndexCommandsTest, removesKeysAndLeavesOthers) {
    dirs.write("index-4119.fits", FakeIndexServer::fitsBody(2880));
    dirs.write("index-4118.fits", FakeIndexServer::fitsBody(2880));
    EXPECT_EQ(run({"--remove-index", "index-4119.fits"}), 0);
    EXPECT_EQ(dirs.entries(), QStringList({"index-4118.fits"}));
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(IndexCommandsTest, linksDistributionFilesInsteadOfFetching) {
    dirs.writeDistribution("index-tycho2-15.littleendian.fits", FakeIndexServer::fitsBody(2880));
    EXPECT_EQ(run({"--fetch-index", "4115"}), 0);
    EXPECT_TRUE(QFileInfo(dirs.folder() + "/index-4115.fits").isSymLink());
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(IndexCommandsTest, refusesUnknownKeysAndMissingOperands) {
    EXPECT_EQ(run({"--fetch-index", "4300"}), 2);
    EXPECT_EQ(run({"--fetch-index", "index-4207-00.fits"}), 2);
    EXPECT_EQ(run({"--remove-index"}), 2);
    EXPECT_EQ(run({"--fetch-index", "--headless"}), 2);
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(IndexConsoleView, describesAKeyOnOneLine) {
    const KeyStatus mixed{CheckState::mixed, 6, 12, 0};
    EXPECT_EQ(IndexConsoleView::describe("index-4207-*.fits", mixed), "[-] index-4207-*.fits     6/12 files");
    const KeyStatus linkable{CheckState::off, 0, 1, 1};
    EXPECT_EQ(IndexConsoleView::describe("index-4110.fits", linkable),
              "[ ] index-4110.fits       0/1 files, 1 installed by the distribution");
}

}  // namespace
