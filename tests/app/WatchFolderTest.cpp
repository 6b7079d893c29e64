// `siderama --watch` on a folder a slow camera program writes to: a frame
// half written is solved only once complete, every frame once, the results
// hold one line per frame, nothing else is left behind, and after a restart
// only a replaced frame is solved again.
#include "app/SolverWindow.h"
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "imaging/WcsHeaderWriter.h"
#include "skyfield/SkyField.h"
#include "solver/SolveQueue.h"
#include "solver/SolverDelegate.h"
#include "solver/WatchResults.h"
#include "ui_SolverWindow.h"
#include "support/PrivateHome.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QtPlugin>
#include <gtest/gtest.h>

Q_IMPORT_PLUGIN(RawImagePlugin)

using namespace siderama;

namespace {

// The records of the JSON-lines results, by frame name.
QMultiMap<QString, QJsonObject> records(const QString& folder) {
    QMultiMap<QString, QJsonObject> found;
    for (const QByteArray& line : testsupport::readFile(folder + "/" + WatchResults::jsonName).split('\n'))
        if (!line.isEmpty()) {
            const QJsonObject record = QJsonDocument::fromJson(line).object();
            found.insert(QFileInfo(record["file"].toString()).fileName(), record);
        }
    return found;
}

bool field(const QString& path, double ra, int seed) {
    return skyfield::runSkyField({"--ra", QString::number(ra), "--dec", "20", "--scale", "36", "--width", "800",
                                  "--height", "600", "--seed", QString::number(seed), "--out", path})
        .has_value();
}

TEST(WatchFolder, FramesAreSolvedOnceWhenCompleteAndAgainOnlyWhenReplaced) {
    testsupport::PrivateHome home;
    ASSERT_TRUE(testsupport::linkTycho2Indexes(home.indexFolder()));
    QTemporaryDir watched, spare;
    ASSERT_TRUE(field(watched.filePath("a.fits"), 120, 1) && field(spare.filePath("b.fits"), 121, 2) &&
                field(spare.filePath("a.fits"), 122, 3));
    QImage blank(64, 64, QImage::Format_RGB888);  // a whole image without stars: fails
    blank.fill(Qt::black);
    ASSERT_TRUE(blank.save(watched.filePath("c.jpg")));
    const auto watch = [&] { return home.start({"--watch", "--write-wcs", watched.path()}); };
    auto program = watch();
    // A camera program writes half of b.fits, pauses well past the watcher's
    // quiet period with the file open, then writes the rest.
    const QByteArray frame = testsupport::readFile(spare.filePath("b.fits"));
    QFile writer(watched.filePath("b.fits"));
    ASSERT_TRUE(writer.open(QIODevice::WriteOnly) && writer.write(frame.left(frame.size() / 2)) > 0 && writer.flush());
    ASSERT_TRUE(testsupport::waitUntil([&] { return records(watched.path()).size() == 2; }, std::chrono::seconds(120)));
    testsupport::waitUntil([] { return false; }, std::chrono::seconds(5));
    EXPECT_FALSE(records(watched.path()).contains("b.fits"));
    writer.write(frame.mid(frame.size() / 2));
    writer.close();
    ASSERT_TRUE(testsupport::waitUntil([&] { return records(watched.path()).size() == 3; }, std::chrono::seconds(120)));
    testsupport::waitUntil([] { return false; }, std::chrono::seconds(5));  // no frame comes twice
    auto found = records(watched.path());
    ASSERT_EQ(found.size(), 3) << qPrintable(program->readAll());
    for (const char* name : {"a.fits", "b.fits"}) {
        EXPECT_EQ(found.value(name)["status"].toString(), "solved") << name;
        EXPECT_TRUE(WcsHeaderWriter::carriesOwnWcs(watched.filePath(name))) << name;
    }
    EXPECT_NEAR(found.value("b.fits")["ra"].toDouble(), 121, 0.05);
    EXPECT_EQ(found.value("c.jpg")["status"].toString(), "failed");
    const QStringList left = QDir(watched.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left, QStringList({"a.fits", "b.fits", "c.jpg", "siderama-results.csv", "siderama-results.jsonl"}));
    EXPECT_EQ(testsupport::readFile(watched.filePath(WatchResults::csvName)).count('\n'), 4);  // header and rows
    EXPECT_EQ(QDir(home.filePath("tmp")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
    program->terminate();
    program->waitForFinished(10000);
    // After a restart only the replaced frame is solved.
    program = watch();
    QFile::remove(watched.filePath("a.fits"));
    ASSERT_TRUE(QFile::copy(spare.filePath("a.fits"), watched.filePath("a.fits")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return records(watched.path()).size() == 4; }, std::chrono::seconds(120)));
    testsupport::waitUntil([] { return false; }, std::chrono::seconds(5));
    found = records(watched.path());
    EXPECT_EQ(found.size(), 4) << qPrintable(program->readAll());
    EXPECT_EQ(found.count("a.fits"), 2);
    EXPECT_NEAR(found.values("a.fits").value(0)["ra"].toDouble(), 122, 0.05);  // the latest first
    program->terminate();
    program->waitForFinished(10000);
}

// The window's Watch Folder…: the frames appear in the Files tab as they come.
TEST(WatchFolder, TheWindowListsAndSolvesTheFramesOfAWatchedFolder) {
    ASSERT_TRUE(testsupport::linkTycho2Indexes(FOLDER()));
    writeSolverConfigIfMissing(FOLDER(), CONFIG());
    qputenv("SIDERAMA_TOOLS_DIR", testsupport::realToolsDirectory().toLocal8Bit());
    QTemporaryDir watched;
    SolverDelegate solver;
    SolverWindow window(solver);
    solver.setView(&window);
    window.ui().writeWCSHeadersButton->click();  // the check box reaches the watched solves
    EXPECT_FALSE(window.watchFolder(watched.filePath("missing")));
    ASSERT_TRUE(window.watchFolder(watched.path()));
    ASSERT_TRUE(field(watched.filePath("a.fits"), 120, 1));
    const auto& entries = window.queue().entries();
    ASSERT_TRUE(testsupport::waitUntil([&] { return records(watched.path()).size() == 1; }, std::chrono::seconds(120)));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].state, QueueEntry::State::solved);
    EXPECT_EQ(window.ui().lowerTabs->currentWidget(), window.ui().queueTable);
    EXPECT_TRUE(WcsHeaderWriter::carriesOwnWcs(watched.filePath("a.fits")));
    solver.setView(nullptr);
}

// The headless server's watch-folders: frames go through the API job queue.
TEST(WatchFolder, TheServerQueuesTheFramesOfItsWatchFolders) {
    testsupport::PrivateHome home;
    ASSERT_TRUE(testsupport::linkTycho2Indexes(home.indexFolder()));
    QTemporaryDir watched;
    {
        QSettings settings(home.filePath("config/Siderama/Siderama.conf"), QSettings::IniFormat);
        settings.setValue("watch-folders", QStringList{watched.path()});
        settings.setValue("writeWCSHeaders", true);
    }
    testsupport::HeadlessProgram server(home, {}, {"--port", "0"});
    ASSERT_TRUE(server.waitForLog("Watching " + watched.path()));
    ASSERT_TRUE(field(watched.filePath("a.fits"), 120, 1));
    ASSERT_TRUE(server.waitForLog("API job 1 solved", 1, std::chrono::seconds(120))) << qPrintable(server.log());
    ASSERT_TRUE(testsupport::waitUntil([&] { return records(watched.path()).size() == 1; }));
    EXPECT_NEAR(records(watched.path()).value("a.fits")["ra"].toDouble(), 120, 0.05);
    EXPECT_TRUE(WcsHeaderWriter::carriesOwnWcs(watched.filePath("a.fits")));
}

}  // namespace
