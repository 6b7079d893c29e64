// Many files at once: a dropped folder with an unreadable file among real fields is solved in turn in the window;
// a row shows its solve, and the CSV and JSON summaries (what `--solve --json` prints) report the solutions.
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
#include <QRegularExpression>
#include <QJsonObject>
#include <QMimeData>
#include <QTableView>
#include <QTemporaryDir>
#include <QUrl>
#include <QtPlugin>
#include <cmath>
#include <gtest/gtest.h>

Q_IMPORT_PLUGIN(RawImagePlugin)

using namespace siderama;

namespace {

struct Frame {
    const char* name;
    const char* format;  // empty: not an image
    double ra, dec;
};
const Frame frames[] = {{"a.png", "png8", 83.8, -5.4}, {"b.jpg", "", 0, 0}, {"c.jpg", "jpg", 10.7, 41.3}};  // queued by name

TEST(SolveQueueWindow, AFolderIsSolvedInTurnAndSummarised) {
    if (!testsupport::linkTycho2Indexes(FOLDER())) GTEST_SKIP() << "Tycho-2 index files missing";
    writeSolverConfigIfMissing(FOLDER(), CONFIG());
    qputenv("SIDERAMA_TOOLS_DIR", testsupport::realToolsDirectory().toLocal8Bit());
    QTemporaryDir folder;
    for (const Frame& frame : frames) {
        QFile junk(folder.filePath(frame.name));
        if (*frame.format == 0) ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write("not an image") > 0);
        else ASSERT_TRUE(skyfield::runSkyField({"--ra", QString::number(frame.ra), "--dec", QString::number(frame.dec),
                                                "--width", "800", "--height", "600", "--scale", "36", "--format",
                                                frame.format, "--out", folder.filePath(frame.name)}));
    }
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
    window.ui().queueTable->view()->selectRow(0);  // a row shows that file's solve
    ASSERT_TRUE(window.ui().resultView->result());
    EXPECT_EQ(window.ui().resultView->result()->input, queue.entries()[0].path);
    EXPECT_TRUE(window.ui().resultsPanel->plainText().contains(QRegularExpression("Quality: \\d+ matched stars, RMS")))
        << qPrintable(window.ui().resultsPanel->plainText());
    const QStringList csv = summaryCsv(queue.entries()).split("\r\n", Qt::SkipEmptyParts).mid(1);
    ASSERT_EQ(csv.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QueueEntry& entry = queue.entries()[size_t(i)];
        const QJsonObject json = QJsonDocument::fromJson(summaryJson(entry).toUtf8()).object();
        const QStringList row = csv[i].split(',');
        ASSERT_EQ(row.size(), 9);
        EXPECT_EQ(row[0], folder.filePath(frames[i].name));
        EXPECT_EQ(json["file"].toString(), row[0]);
        EXPECT_EQ(json["status"].toString(), row[1]);
        if (frames[i].ra == 0) {
            EXPECT_EQ(entry.state, QueueEntry::State::failed);
            EXPECT_TRUE(json["message"].toString().contains("convert") && row[8].contains("convert")) << qPrintable(csv[i]);
            continue;
        }
        EXPECT_EQ(entry.state, QueueEntry::State::solved) << frames[i].name;
        EXPECT_NEAR(json["ra"].toDouble(), frames[i].ra, 0.05);
        EXPECT_NEAR(json["dec"].toDouble(), frames[i].dec, 0.05);
        EXPECT_NEAR(json["pixscale"].toDouble(), 36, 0.4);
        EXPECT_EQ(json["parity"].toInt(), 1) << "generated fields are not mirrored";
        EXPECT_NEAR(json["width_arcsec"].toDouble(), 800 * json["pixscale"].toDouble(), 1e-6);
        EXPECT_GT(json["radius"].toDouble(), 0);
        const QJsonObject quality = json["quality"].toObject();
        EXPECT_GE(quality["matched_stars"].toInt(), 8) << qPrintable(summaryJson(entry));
        EXPECT_LT(quality["rms_arcsec"].toDouble(), 36) << "within a pixel";
        EXPECT_GT(quality["log_odds"].toDouble(), 20);
        // North up: up points north, which the suite's orientation calls 180.
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
