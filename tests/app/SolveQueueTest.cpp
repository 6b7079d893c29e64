// Many files at once: a dropped folder with an unreadable file among real
// fields is solved in turn in the window, its table exports as CSV, and
// `siderama --solve --json` reports the same values for the same files.
#include "app/QueueTable.h"
#include "app/ResultView.h"
#include "app/SolverWindow.h"
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "skyfield/SkyField.h"
#include "solver/SolveQueue.h"
#include "solver/SolveResult.h"
#include "solver/SolveSummary.h"
#include "solver/SolverDelegate.h"
#include "support/TestSupport.h"
#include "ui_SolverWindow.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QUrl>
#include <cmath>
#include <QtPlugin>
#include <gtest/gtest.h>

Q_IMPORT_PLUGIN(RawImagePlugin)

using namespace siderama;

namespace {

struct Frame {
    const char* name;
    const char* format;
    double ra, dec;
};
// Sorted by name, as the folder is queued; "b" cannot be decoded.
const Frame frames[] = {{"a.png", "png8", 83.8, -5.4}, {"b.jpg", "", 0, 0}, {"c.jpg", "jpg", 10.7, 41.3}};

class SolveQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QFile::exists("/usr/share/astrometry/index-tycho2-10.littleendian.fits"))
            GTEST_SKIP() << "Tycho-2 index files missing";
        writeSolverConfigIfMissing(FOLDER(), CONFIG());
        testsupport::linkTycho2Indexes(FOLDER());
        qputenv("SIDERAMA_TOOLS_DIR", testsupport::realToolsDirectory().toLocal8Bit());
        for (const Frame& frame : frames) {
            const QString path = folder.filePath(frame.name);
            if (frame.ra == 0) {
                QFile junk(path);
                ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write("not an image") > 0);
                continue;
            }
            ASSERT_TRUE(skyfield::runSkyField({"--ra", QString::number(frame.ra), "--dec",
                                                  QString::number(frame.dec), "--width", "800", "--height", "600",
                                                  "--scale", "36", "--format", frame.format, "--out",
                                                  path}));
        }
    }

    // CSV rows (without the header) split into fields; no field here is quoted.
    static QList<QStringList> csvRows(const QByteArray& csv) {
        QList<QStringList> rows;
        for (const QString& line : QString::fromUtf8(csv).split("\r\n", Qt::SkipEmptyParts).mid(1))
            rows << line.split(',');
        return rows;
    }

    QTemporaryDir folder;
};

TEST_F(SolveQueueTest, AFolderIsSolvedInTurnAndReportedAlike) {
    SolverDelegate solver;
    SolverWindow window(solver);
    solver.setView(&window);
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(folder.path())});
    ASSERT_TRUE(window.solveDropped(drop));
    SolveQueue& queue = window.queue();
    ASSERT_EQ(queue.entries().size(), 3u);
    bool finished = false;
    QObject::connect(&queue, &SolveQueue::finished, [&] { finished = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return finished; }, std::chrono::seconds(300)));
    const QueueEntry::State expected[] = {QueueEntry::State::solved, QueueEntry::State::failed,
                                          QueueEntry::State::solved};
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(queue.entries()[i].state, expected[i]) << frames[i].name;

    // Selecting a row shows that file's solve.
    window.ui().queueTable->view()->selectRow(0);
    ASSERT_TRUE(window.ui().resultView->result());
    EXPECT_EQ(window.ui().resultView->result()->input, queue.entries()[0].path);

    const QString csvPath = folder.filePath("solves.csv");
    ASSERT_TRUE(window.ui().queueTable->exportCsv(csvPath, true));
    QFile csvFile(csvPath);
    ASSERT_TRUE(csvFile.open(QIODevice::ReadOnly));
    const QList<QStringList> csv = csvRows(csvFile.readAll());
    ASSERT_EQ(csv.size(), 3);
    QFile::remove(csvPath);

    QProcess program;
    program.start(SIDERAMA_BINARY_DIR "/bin/siderama", {"--solve", "--json", folder.path()});
    ASSERT_TRUE(program.waitForFinished(300000));
    EXPECT_EQ(program.exitCode(), 1) << "one file failed";
    const QList<QByteArray> lines = program.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3);

    for (int i = 0; i < 3; ++i) {
        const QJsonObject json = QJsonDocument::fromJson(lines[i]).object();
        const QStringList& row = csv[i];
        ASSERT_EQ(row.size(), 9);
        EXPECT_EQ(json["file"].toString(), folder.filePath(frames[i].name));
        EXPECT_EQ(row[0], json["file"].toString());
        EXPECT_EQ(row[1], json["status"].toString());
        if (frames[i].ra == 0) {
            EXPECT_EQ(json["status"].toString(), "failed");
            EXPECT_TRUE(json["message"].toString().contains("convert")) << lines[i].constData();
            EXPECT_TRUE(row[8].contains("convert"));
            continue;
        }
        EXPECT_NEAR(json["ra"].toDouble(), frames[i].ra, 0.05);
        EXPECT_NEAR(json["dec"].toDouble(), frames[i].dec, 0.05);
        EXPECT_NEAR(json["pixscale"].toDouble(), 36, 0.4);
        EXPECT_EQ(json["parity"].toInt(), 1) << "generated fields are not mirrored";
        EXPECT_NEAR(json["width_arcsec"].toDouble(), 800 * json["pixscale"].toDouble(), 1e-6);
        EXPECT_NEAR(json["height_arcsec"].toDouble(), 600 * json["pixscale"].toDouble(), 1e-6);
        EXPECT_GT(json["radius"].toDouble(), 0);
        // The same image gives the same solution in the window and the terminal
        // (up to which strategy won, and the camera memory's hint the second time).
        const char* names[] = {"ra", "dec", "pixscale", "orientation"};
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(std::remainder(row[2 + c].toDouble() - json[names[c]].toDouble(), 360), 0, 0.1) << names[c];
        // The fields are made with north up: up points north, which the
        // suite's orientation calls 180.
        EXPECT_NEAR(std::remainder(row[6].toDouble(), 360), 0, 2);
        EXPECT_NEAR(std::abs(json["orientation"].toDouble()), 180, 2);
    }
}

// "Stop" ends the running solve and drops the waiting files at once.
TEST(SolveQueueStop, StopEndsTheRunningSolveAndEmptiesTheQueue) {
    QTemporaryDir tools;
    testsupport::writeScript(tools.path(), "image2xy", "echo started\nexec sleep 60\n");
    qputenv("SIDERAMA_TOOLS_DIR", tools.path().toLocal8Bit());
    SolverDelegate solver;
    SolveQueue queue(solver);
    queue.add({tools.filePath("1.fits"), tools.filePath("2.fits"), tools.filePath("3.fits")});
    ASSERT_TRUE(testsupport::waitUntil([&] { return solver.state().message.startsWith("image2xy"); }));
    bool finished = false;
    QObject::connect(&queue, &SolveQueue::finished, [&] { finished = true; });
    queue.stop();
    ASSERT_EQ(queue.entries().size(), 1u);
    ASSERT_TRUE(testsupport::waitUntil([&] { return finished; }));
    EXPECT_EQ(queue.entries()[0].state, QueueEntry::State::failed);
    EXPECT_EQ(queue.entries()[0].message, "image2xy aborted");
    EXPECT_FALSE(queue.isRunning());
    qunsetenv("SIDERAMA_TOOLS_DIR");
}

}  // namespace
