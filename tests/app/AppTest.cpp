// The program as started from a shell (first start in a fresh home, the command line, termination signals) and
// the solver window on the offscreen platform.
#include "app/SolverWindow.h"
#include "core/Defaults.h"
#include "core/SolverConfig.h"
#include "solver/SolveResult.h"
#include "solver/SolverDelegate.h"
#include "support/FitsCards.h"
#include "support/PrivateHome.h"
#include "support/RawHttpClient.h"
#include "support/TestSupport.h"
#include "ui_SolverWindow.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QUrl>
#include <csignal>
#include <cstring>

using namespace siderama;
using testsupport::PrivateHome;

namespace {

using testsupport::readFile;

QByteArray expectedConfig(const QString& folder) { return "cpulimit 300\nadd_path " + folder.toUtf8() + "\nautoindex\n"; }

TEST(Startup, TheConfigurationIsWrittenOnceForAnyFolderName) {
    QTemporaryDir scratch;
    for (const QString& name : {QString("plain"), QString("with  two spaces"), QString("Jürgen 星野")}) {
        const QString folder = scratch.filePath(name + "/deep/Siderama"), config = folder + "/siderama.cfg";
        ASSERT_TRUE(writeSolverConfigIfMissing(folder, config)) << qPrintable(name);
        EXPECT_EQ(readFile(config), expectedConfig(folder)) << qPrintable(name);
        QFile edited(config);  // a user's edits survive every later start
        ASSERT_TRUE(edited.open(QIODevice::WriteOnly | QIODevice::Truncate) && edited.write("cpulimit 60\n") > 0);
        edited.close();
        EXPECT_TRUE(writeSolverConfigIfMissing(folder, config));
        EXPECT_EQ(readFile(config), "cpulimit 60\n");
    }
    EXPECT_TRUE(QDir(scratch.path()).entryList({"*.cfg*"}, QDir::Files | QDir::Hidden).isEmpty()) << "no temporary file left";
    QFile(scratch.filePath("file")).open(QIODevice::WriteOnly);
    EXPECT_FALSE(writeSolverConfigIfMissing(scratch.filePath("file/S"), scratch.filePath("file/S/s.cfg"))) << "not fatal";
}

TEST(Startup, TheProgramStartsInANonAsciiHome) {
    const PrivateHome home("Ångström home");
    const auto ended = home.run({"--solve", home.filePath("missing.png")});
    EXPECT_EQ(ended.exitCode, 1) << qPrintable(ended.output);
    EXPECT_EQ(readFile(home.indexFolder() + "/siderama.cfg"), expectedConfig(home.indexFolder()));
    EXPECT_TRUE(ended.output.contains("Failed to convert " + home.filePath("missing.png") + " to FITS")) << qPrintable(ended.output);
    EXPECT_FALSE(ended.output.contains("\033[")) << "no colours when the output is not a terminal";
}

// Arguments, exit status, a text the output holds.
TEST(Startup, CommandLineTable) {
    const PrivateHome home;
    const std::vector<std::tuple<QStringList, int, QString>> cases{
        {{"--version"}, 0, "Siderama " SIDERAMA_VERSION}, {{"-v"}, 0, "Siderama " SIDERAMA_VERSION},
        {{"--help"}, 0, "--solve IMAGE"}, {{"-h"}, 0, "--fetch-index KEY..."},
        {{"--no-such-option"}, 2, "no-such-option"}, {{"--solve"}, 2, "Usage: siderama"},
        {{"a.fits", "b.fits"}, 2, "Usage: siderama"},
        {{"--json", "image.fits"}, 2, "--json goes with --solve"},
        {{"--fetch-index", "4300"}, 2, "4300"}, {{"--remove-index"}, 2, "--remove-index"},
    };
    const PrivateHome blocked("blocked");  // a file where the index directory's parent belongs
    QFile(blocked.filePath("data")).open(QIODevice::WriteOnly);
    for (const auto& [arguments, exitCode, text] : cases) {
        const auto ended = home.run(arguments);
        EXPECT_EQ(ended.exitCode, exitCode) << qPrintable(arguments.join(' '));
        EXPECT_TRUE(ended.output.contains(text)) << qPrintable(arguments.join(' ')) << "\n" << qPrintable(ended.output);
    }
    for (const QStringList& arguments : {QStringList{"--indexes"}, QStringList{"--headless"}}) {
        const auto ended = blocked.run(arguments, std::chrono::seconds(60));
        EXPECT_TRUE(ended.exitCode == 1 && ended.output.contains("Can't create " + blocked.indexFolder())) << qPrintable(ended.output);
    }
}

// Every mode ends its running tool on SIGTERM, SIGINT and SIGHUP and exits normally; the tools run in a process
// group of their own. The headless server is given an upload to solve.
TEST(Startup, TerminationSignalsEndTheRunningToolInEveryMode) {
    for (const QString mode : {"", "--solve", "--headless"})
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            PrivateHome home;
            const QString pidFile = home.filePath("pid"), image = home.filePath("a.fits"), what = mode + " " + strsignal(signal);
            testsupport::writeScript(home.filePath("tools"), "image2xy", "echo $$ > " + pidFile.toUtf8() + "\nexec sleep 60\n");
            home.setTools(home.filePath("tools"));
            QFile(image).open(QIODevice::WriteOnly);
            const auto program = home.start(mode.isEmpty() ? QStringList{image} : mode == "--headless" ? QStringList{mode} : QStringList{mode, image});
            QByteArray log;
            const QRegularExpression started("HTTP server started on port (\\d+)\n");
            if (mode == "--headless") {
                ASSERT_TRUE(testsupport::waitUntil([&] { return started.match(log += program->readAll()).hasMatch(); }));
                testsupport::request(started.match(log).captured(1).toInt(), "PUT", "/api/upload", {}, testsupport::fitsCards().toStdString());
            }
            ASSERT_TRUE(testsupport::waitUntil([&] { return !readFile(pidFile).isEmpty(); }, std::chrono::seconds(30))) << qPrintable(what);
            const pid_t tool = readFile(pidFile).trimmed().toInt();
            ::kill(program->processId(), signal);
            ASSERT_TRUE(program->waitForFinished(15000)) << qPrintable(what);
            EXPECT_EQ(program->exitStatus(), QProcess::NormalExit) << qPrintable(what);
            EXPECT_TRUE(testsupport::waitUntil([&] { return ::kill(tool, 0) != 0; })) << qPrintable(what) << " left the tool running";
            ::kill(tool, SIGKILL);
        }
}

class SolverWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings("Siderama", "Siderama").clear();
        solver.setView(&window);
        qputenv("SIDERAMA_TOOLS_DIR", tools.path().toLocal8Bit());
    }
    void TearDown() override {
        solver.abort();
        qunsetenv("SIDERAMA_TOOLS_DIR");
    }
    void settle() {
        const QString marker = QString("settled %1").arg(++settled);
        solver.append(marker);
        ASSERT_TRUE(testsupport::waitUntil([&] { return window.logText().endsWith(marker + "\n"); }));
    }
    int settled = 0;
    QTemporaryDir tools;
    SolverDelegate solver;
    SolverWindow window{solver};
    Ui::SolverWindow& ui = window.ui();
};

TEST_F(SolverWindowTest, ControlsFollowTheStateAndOnlyLocalFilesAreTaken) {
    QMimeData remote;
    remote.setUrls({QUrl("https://example.org/image.fits")});
    EXPECT_FALSE(window.solveDropped(remote));
    EXPECT_TRUE(ui.solveButton->isEnabled());
    EXPECT_FALSE(ui.abortButton->isEnabled());
    solver.busy();
    settle();
    EXPECT_FALSE(ui.solveButton->isEnabled() || ui.solveMenu->isEnabled());
    EXPECT_TRUE(ui.abortButton->isEnabled() && ui.abortMenu->isEnabled());
    solver.done("\nDone in 1.0 seconds");
    settle();
    EXPECT_TRUE(ui.solveButton->isEnabled() && ui.solveMenu->isEnabled());
    EXPECT_FALSE(ui.abortButton->isEnabled());
    EXPECT_TRUE(window.statusBar()->currentMessage().contains("Done in 1.0 seconds"));
}

TEST_F(SolverWindowTest, CheckBoxesSizeAndPlaceAreKeptForTheNextStart) {
    solver.show();
    settle();
    EXPECT_FALSE(ui.removeFilesButton->isChecked() || ui.writeWCSHeadersButton->isChecked());
    ui.writeWCSHeadersButton->click();
    ui.removeFilesButton->click();
    EXPECT_TRUE(Defaults::boolValue(Defaults::removeCreatedFiles) && Defaults::boolValue(Defaults::writeWCSHeaders));
    EXPECT_TRUE(solver.removeFilesEnabled()) << "the pipeline reads the stored state, not the widget";
    window.setGeometry(120, 90, 700, 450);
    ASSERT_TRUE(testsupport::waitUntil([&] { return window.size() == QSize(700, 450); }));
    window.close();
    SolverDelegate again;
    SolverWindow second(again);
    again.setView(&second);
    again.show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return second.isVisible(); }));
    EXPECT_TRUE(second.ui().removeFilesButton->isChecked() && second.ui().writeWCSHeadersButton->isChecked());
    EXPECT_EQ(second.geometry(), window.geometry());
}

TEST_F(SolverWindowTest, ColouredLinesArriveInOrder) {
    solver.append("plain one");
    solver.failed("\nbroken");
    solver.append("calibrated", GREEN);
    solver.busy("working");
    settle();
    EXPECT_EQ(window.logText(), "plain one\n\nbroken\ncalibrated\nworking\nsettled 1\n");
    const QList<std::pair<QString, QColor>> expected{
        {"plain one", QColor()}, {"broken", SolverWindow::color(RED)}, {"calibrated", SolverWindow::color(GREEN)}, {"working", SolverWindow::color(YELLOW)}};
    int found = 0;
    for (QTextBlock block = ui.logText->document()->begin(); block.isValid() && found < expected.size(); block = block.next()) {
        if (block.text().isEmpty()) continue;
        EXPECT_EQ(block.text(), expected[found].first);
        const QBrush foreground = block.begin().fragment().charFormat().foreground();
        if (expected[found].second.isValid()) EXPECT_EQ(foreground.color(), expected[found].second);
        else EXPECT_EQ(foreground.style(), Qt::NoBrush) << "tool output keeps the default colour";
        ++found;
    }
    EXPECT_EQ(found, expected.size());
}

// The stored time limit (the desktop's; the terminal's comes from --time-limit) ends a solve whose tool runs on.
TEST_F(SolverWindowTest, TheTimeLimitEndsASolve) {
    testsupport::writeScript(tools.path(), "image2xy", "exec sleep 60\n");
    QSettings("Siderama", "Siderama").setValue("solve/time-limit", 1);
    QFile(tools.filePath("slow.fits")).open(QIODevice::WriteOnly);
    ASSERT_TRUE(solver.solvePath(tools.filePath("slow.fits")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !solver.isSolving(); }, std::chrono::seconds(40)));
    settle();
    EXPECT_TRUE(window.logText().contains("\ntime limit\n")) << qPrintable(window.logText());
    EXPECT_EQ(solver.lastResult()->message, "time limit");
}

// A verbose tool's lines all reach the window, a slice per turn of the event loop: a flood waiting in the log
// is never inserted in one turn, which would freeze the window.
TEST_F(SolverWindowTest, AVerboseToolNeverFreezesTheWindow) {
    testsupport::writeScript(tools.path(), "image2xy", "seq 1 100000\n");
    testsupport::writeScript(tools.path(), "solve-field", "exit 7\n");
    QFile(tools.filePath("busy.fits")).open(QIODevice::WriteOnly);
    SolveOptions inTurn;  // the pipeline's tools first, shown in full
    inTurn.racing = false;
    ASSERT_TRUE(solver.solvePath(tools.filePath("busy.fits"), inTurn));
    ASSERT_TRUE(testsupport::waitUntil([&] { return window.logText().contains("\nsolve-field terminated"); }, std::chrono::seconds(120)));
    EXPECT_GE(ui.logText->document()->blockCount(), 100000 + 7);
    settle();
    const int before = ui.logText->document()->blockCount();
    for (int line = 0; line < 100000; ++line) solver.append("flood");
    for (int turn = 0; turn < 1000 && ui.logText->document()->blockCount() == before; ++turn) QCoreApplication::processEvents();
    const int inserted = ui.logText->document()->blockCount() - before;
    EXPECT_TRUE(inserted > 0 && inserted <= 10000) << inserted << " lines in the first turn that showed any";
    settle();
}

}  // namespace
