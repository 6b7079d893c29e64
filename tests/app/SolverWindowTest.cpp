// The solver window on the offscreen platform: controls follow the state,
// the check boxes round-trip through the user defaults, coloured lines reach
// the log in order, drops start a solve, and a verbose tool never freezes it.
#include "app/SolverWindow.h"
#include "core/Defaults.h"
#include "solver/SolverDelegate.h"
#include "support/TestSupport.h"
#include "ui_SolverWindow.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

using namespace siderama;

namespace {

class SolverWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings("Siderama", "Siderama").clear();
        solver.setView(&window);
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
    SolverDelegate solver;
    SolverWindow window{solver};
    Ui::SolverWindow& ui = window.ui();
};

TEST_F(SolverWindowTest, ControlsFollowTheState) {
    EXPECT_TRUE(ui.solveButton->isEnabled());
    EXPECT_FALSE(ui.abortButton->isEnabled());
    solver.busy();
    settle();
    EXPECT_FALSE(ui.solveButton->isEnabled());
    EXPECT_FALSE(ui.solveMenu->isEnabled());
    EXPECT_TRUE(ui.abortButton->isEnabled());
    EXPECT_TRUE(ui.abortMenu->isEnabled());
    solver.done("\nDone in 1.0 seconds");
    settle();
    EXPECT_TRUE(ui.solveButton->isEnabled());
    EXPECT_TRUE(ui.solveMenu->isEnabled());
    EXPECT_FALSE(ui.abortButton->isEnabled());
    EXPECT_TRUE(window.statusBar()->currentMessage().contains("Done in 1.0 seconds"));
}

TEST_F(SolverWindowTest, CheckBoxesRoundTripThroughTheDefaults) {
    solver.show();
    settle();
    EXPECT_FALSE(ui.removeFilesButton->isChecked());
    EXPECT_FALSE(ui.writeWCSHeadersButton->isChecked());
    EXPECT_TRUE(window.isVisible());

    ui.writeWCSHeadersButton->click();
    EXPECT_FALSE(Defaults::boolValue(Defaults::removeCreatedFiles));
    EXPECT_TRUE(Defaults::boolValue(Defaults::writeWCSHeaders));
    ui.removeFilesButton->click();
    EXPECT_TRUE(Defaults::boolValue(Defaults::removeCreatedFiles));
    EXPECT_TRUE(solver.removeFilesEnabled()) << "the pipeline reads the stored state, not the widget";

    SolverDelegate again;
    SolverWindow second(again);
    again.setView(&second);
    again.show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return second.isVisible(); }));
    EXPECT_TRUE(second.ui().removeFilesButton->isChecked());
    EXPECT_TRUE(second.ui().writeWCSHeadersButton->isChecked());
}

TEST_F(SolverWindowTest, ColouredLinesArriveInOrder) {
    solver.append("plain one");
    solver.failed("\nbroken");
    solver.append("calibrated", GREEN);
    solver.busy("working");
    settle();
    EXPECT_EQ(window.logText(), "plain one\n\nbroken\ncalibrated\nworking\nsettled 1\n");
    const QList<std::pair<QString, QColor>> expected{
        {"plain one", QColor()}, {"broken", SolverWindow::color(RED)}, {"calibrated", SolverWindow::color(GREEN)},
        {"working", SolverWindow::color(YELLOW)}};
    int found = 0;
    for (QTextBlock block = ui.logText->document()->begin(); block.isValid(); block = block.next()) {
        if (block.text().isEmpty() || found == expected.size()) continue;
        EXPECT_EQ(block.text(), expected[found].first);
        const QBrush foreground = block.begin().fragment().charFormat().foreground();
        if (expected[found].second.isValid()) EXPECT_EQ(foreground.color(), expected[found].second);
        else EXPECT_EQ(foreground.style(), Qt::NoBrush) << "tool output keeps the default colour";
        ++found;
    }
    EXPECT_EQ(found, expected.size());
}

TEST_F(SolverWindowTest, DroppingAnImageStartsASolve) {
    QTemporaryDir tools;
    testsupport::writeScript(tools.path(), "image2xy", "echo 'image2xy ran'\nexit 4\n");
    qputenv("SIDERAMA_TOOLS_DIR", tools.path().toLocal8Bit());
    const QString image = tools.filePath("dropped.fits");
    QFile(image).open(QIODevice::WriteOnly);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(image)});
    QMimeData remote;
    remote.setUrls({QUrl("https://example.org/image.fits")});
    EXPECT_FALSE(window.solveDropped(remote));
    EXPECT_TRUE(window.solveDropped(data));
    // The pipeline's own line, not the one of the strategy raced beside it.
    ASSERT_TRUE(testsupport::waitUntil([&] { return window.logText().contains("\nimage2xy terminated (status 4)"); }))
        << qPrintable(window.logText());
    EXPECT_TRUE(window.logText().contains("image2xy ran"));
    EXPECT_TRUE(window.logText().contains("dropped.fits"));
}

TEST_F(SolverWindowTest, TheWindowRemembersItsSizeAndPosition) {
    window.show();
    window.setGeometry(120, 90, 700, 450);
    ASSERT_TRUE(testsupport::waitUntil([&] { return window.size() == QSize(700, 450); }));
    window.close();
    SolverDelegate again;
    SolverWindow reopened(again);
    EXPECT_EQ(reopened.size(), QSize(700, 450));
    EXPECT_EQ(reopened.geometry().topLeft(), window.geometry().topLeft());
}

TEST(SolverWindowProgram, AFileOnTheCommandLineIsSolvedAtStart) {
    QTemporaryDir scratch;
    const QString calls = scratch.filePath("calls");
    testsupport::writeScript(scratch.filePath("tools"), "image2xy", "echo \"$*\" >> " + calls.toUtf8() + "\nexit 1\n");
    const QString image = scratch.filePath("opened.fits");
    QFile(image).open(QIODevice::WriteOnly);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", scratch.path());
    environment.insert("XDG_DATA_HOME", scratch.filePath("data"));
    environment.insert("XDG_CONFIG_HOME", scratch.filePath("config"));
    environment.insert("SIDERAMA_TOOLS_DIR", scratch.filePath("tools"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + scratch.filePath("no-bus"));
    program.setProcessEnvironment(environment);
    QSettings(scratch.filePath("config/Siderama/Siderama.conf"), QSettings::IniFormat).setValue("solve/racing", false);
    program.start(SIDERAMA_BINARY_DIR "/bin/siderama", {image});
    const bool solved = testsupport::waitUntil([&] { return QFile::exists(calls); }, std::chrono::seconds(30));
    program.terminate();
    program.waitForFinished(10000);
    ASSERT_TRUE(solved) << "the file given on the command line was not solved";
    QFile file(calls);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readLine().trimmed(), ("-O -o " + scratch.filePath("opened.xy") + " " + image).toUtf8());
}

TEST_F(SolverWindowTest, AVerboseToolNeverFreezesTheWindow) {
    QTemporaryDir tools;
    testsupport::writeScript(tools.path(), "image2xy", "seq 1 100000\n");
    testsupport::writeScript(tools.path(), "solve-field", "exit 7\n");
    qputenv("SIDERAMA_TOOLS_DIR", tools.path().toLocal8Bit());
    const QString image = tools.filePath("busy.fits");
    QFile(image).open(QIODevice::WriteOnly);

    // A timer that should tick every 10 ms measures how long the event loop
    // was blocked at most while the log fills.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
    });
    sinceTick.start();
    ticker.start(10);
    SolveOptions inTurn;
    inTurn.racing = false;
    ASSERT_TRUE(solver.solvePath(image, inTurn));
    ASSERT_TRUE(testsupport::waitUntil([&] { return window.logText().contains("solve-field terminated"); },
                                       std::chrono::seconds(120)));
    EXPECT_LT(longestGap, 1000) << "the log must be filled in slices";
    EXPECT_TRUE(window.logText().contains("\n100000\n"));
    EXPECT_GE(ui.logText->document()->blockCount(), 100000 + 7);
}

}  // namespace
