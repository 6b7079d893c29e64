// The tool runner against stand-in tools: what reaches the log, in which
// colour, and how exit statuses and aborts become the solver state.
#include "core/Defaults.h"
#include "solver/ToolError.h"
#include "support/TestSupport.h"
#include "solver/SolverFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QThread>
#include <csignal>
#include <thread>
#include <unistd.h>

using namespace siderama;
using Domain = ToolError::Domain;

namespace {

class ToolRunner : public SolverFixture {};

TEST_F(ToolRunner, SilentToolGivesTheDisplayLineAndDone) {
    tool("image2xy", "exit 0\n");
    EXPECT_EQ(run("image2xy", {"-O", "-o", "/a/m31.xy", "/a/m31.fits"}), std::nullopt);
    ASSERT_EQ(view.lines.size(), 2);
    EXPECT_EQ(view.lines[0].text, "\nimage2xy -O -o /a/m31.xy /a/m31.fits");
    EXPECT_EQ(view.lines[0].color, YELLOW);
    EXPECT_EQ(view.lines[1].text, "image2xy done");
    EXPECT_EQ(view.lines[1].color, YELLOW);
    EXPECT_EQ(solver.state().status, SolverStatus::busy);
    EXPECT_EQ(solver.state().message, "image2xy done");
    EXPECT_EQ(view.controls, std::make_pair(false, true));
}

TEST_F(ToolRunner, OutputArrivesLineByLineInOrder) {
    // stdout and stderr interleaved, empty lines, spaces and a carriage
    // return, invalid UTF-8 in the middle and no line feed at the end.
    tool("mixed", "echo one\necho two >&2\necho\necho '  '\nprintf 'cr\\r\\n'\n"
                  "printf 'bad \\377\\376 bytes\\n'\necho after\nprintf 'last'\n");
    EXPECT_EQ(run("mixed", {}), std::nullopt);
    const QStringList expected{"\nmixed", "one", "two", "  ", "cr\r", QString("bad \uFFFD\uFFFD bytes"),
                               "after", "last", "mixed done"};
    EXPECT_EQ(view.texts(), expected);
    for (int i = 1; i < 8; ++i) EXPECT_EQ(view.lines[i].color, LogColor::plain) << i;
}

TEST_F(ToolRunner, LongOutputIsReadToTheEndWhateverItsChunks) {
    // Lines cut across pipe reads, and far more output than a pipe holds.
    tool("verbose", "i=0; while [ $i -lt 50000 ]; do echo \"line $i of a verbose tool\"; i=$((i+1)); done\n"
                    "head -c 200000 /dev/zero | tr '\\0' x; echo\n");
    EXPECT_EQ(run("verbose", {}), std::nullopt);
    ASSERT_EQ(view.lines.size(), 50000 + 3);
    EXPECT_EQ(view.lines[1].text, "line 0 of a verbose tool");
    EXPECT_EQ(view.lines[50000].text, "line 49999 of a verbose tool");
    EXPECT_EQ(view.lines[50001].text, QString(200000, 'x'));
    EXPECT_GT(view.batches, 1);
    EXPECT_LT(view.batches, 50000 / 10) << "log updates must come in batches";
}

TEST_F(ToolRunner, ExitStatusesBecomeFailures) {
    tool("broken", "echo oops\nexit 3\n");
    EXPECT_EQ(run("broken", {}), Domain::terminated);
    EXPECT_EQ(view.lines.last().text, "broken terminated (status 3)");
    EXPECT_EQ(view.lines.last().color, RED);
    EXPECT_EQ(solver.state().status, SolverStatus::failed);
    EXPECT_EQ(solver.state().message, "broken terminated (status 3)");
    EXPECT_EQ(view.controls, std::make_pair(true, false));

    tool("killed", "kill -TERM $$\n");
    EXPECT_EQ(run("killed", {}), Domain::aborted);
    EXPECT_EQ(view.lines.last().text, "killed aborted");

    tool("exit15", "exit 15\n");
    EXPECT_EQ(run("exit15", {}), Domain::terminated);
    EXPECT_EQ(view.lines.last().text, "exit15 terminated (status 15)");

    tool("crash", "kill -SEGV $$\n");
    EXPECT_EQ(run("crash", {}), Domain::terminated);
    EXPECT_EQ(view.lines.last().text, "crash terminated by signal SIGSEGV");

    EXPECT_EQ(run("missing", {"x"}), Domain::failed);
    EXPECT_EQ(view.lines.last().text, "missing failed to start");
    EXPECT_EQ(view.lines.last().color, RED);

    QFile notExecutable(tools + "/plain");
    ASSERT_TRUE(notExecutable.open(QIODevice::WriteOnly));
    notExecutable.close();
    EXPECT_EQ(run("plain", {}), Domain::failed);
}

TEST_F(ToolRunner, ToolsReadNothingFromTheProgramsInput) {
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    ASSERT_EQ(::write(input[1], "typed\n", 6), 6);
    ::close(input[1]);
    const int saved = ::dup(STDIN_FILENO);
    ::dup2(input[0], STDIN_FILENO);
    tool("reader", "cat\n");
    EXPECT_EQ(run("reader", {}), std::nullopt);
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    ::close(input[0]);
    EXPECT_FALSE(view.contains("typed"));
}

TEST_F(ToolRunner, ParseTakesTheFourCalibrationLines) {
    tool("wcsinfo", "echo 'ra_center 10.684'\necho 'dec_center  41.269'\necho 'orientation -3.5e1'\n"
                    "echo 'pixscale 1.234'\necho 'ra_center_h 0.71'\necho 'PIXSCALE 9'\necho 'pixscale=9'\n"
                    "echo 'imagew 900'\n");
    EXPECT_EQ(run("wcsinfo", {"x.wcs"}, true), std::nullopt);
    const SolverState state = solver.state();
    EXPECT_EQ(state.raCenter, 10.684);
    EXPECT_EQ(state.decCenter, 41.269);
    EXPECT_EQ(state.orientation, -35.0);
    EXPECT_EQ(state.pixelScale, 1.234);
    EXPECT_EQ(state.imageWidth, 900);
    const QList<LogColor> colors{YELLOW, GREEN, GREEN, GREEN, GREEN, LogColor::plain,
                                 LogColor::plain, LogColor::plain, LogColor::plain, YELLOW};
    ASSERT_EQ(view.lines.size(), colors.size());
    for (int i = 0; i < colors.size(); ++i) EXPECT_EQ(view.lines[i].color, colors[i]) << i;

    tool("wcsinfo", "echo 'pixscale abc'\necho 'ra_center 1.5x'\necho 'orientation '\n");
    EXPECT_EQ(run("wcsinfo", {}, true), std::nullopt);
    EXPECT_EQ(solver.state().pixelScale, std::nullopt);
    EXPECT_EQ(solver.state().raCenter, std::nullopt);
    EXPECT_EQ(solver.state().orientation, std::nullopt);
    EXPECT_EQ(solver.state().decCenter, 41.269) << "lines not printed leave values alone";
    EXPECT_EQ(view.lines[view.lines.size() - 2].color, GREEN);
}

TEST_F(ToolRunner, WithoutParseCalibrationLinesAreOnlyLogged) {
    tool("other", "echo 'ra_center 10'\n");
    EXPECT_EQ(run("other", {}, false), std::nullopt);
    EXPECT_EQ(solver.state().raCenter, std::nullopt);
    EXPECT_EQ(view.lines[1].color, LogColor::plain);
}

TEST_F(ToolRunner, CalibrationValuesUseTheCLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    const bool german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    tool("wcsinfo", "echo 'pixscale 1.25'\necho 'ra_center 1,5'\n");
    EXPECT_EQ(run("wcsinfo", {}, true), std::nullopt);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(solver.state().pixelScale, 1.25) << (german ? "with a decimal-comma locale" : "");
    EXPECT_EQ(solver.state().raCenter, std::nullopt);
}

TEST_F(ToolRunner, AbortEndsTheToolAndEveryProcessItStarted) {
    const QString pids = scratch.filePath("pids");
    // The tool ignores SIGTERM and starts a child that does too; both note
    // their pid, then wait.
    tool("stubborn", "trap '' TERM\nsh -c \"trap '' TERM; echo \\$\\$ >> " + pids.toUtf8() +
                         "; exec sleep 60\" &\necho $$ >> " + pids.toUtf8() + "\necho started\nsleep 60\n");
    const auto bothStarted = [&] {
        QFile file(pids);
        return file.open(QIODevice::ReadOnly) && file.readAll().count('\n') == 2;
    };
    std::thread aborter([&] {
        while (!bothStarted()) QThread::msleep(10);
        solver.abort();
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(run("stubborn", {}), Domain::aborted);
    aborter.join();
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_EQ(view.lines.last().text, "stubborn aborted");
    EXPECT_EQ(solver.state().status, SolverStatus::failed);

    QFile file(pids);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    for (const QByteArray& word : file.readAll().simplified().split(' ')) {
        const pid_t pid = word.toInt();
        ASSERT_GT(pid, 1);
        EXPECT_TRUE(testsupport::waitUntil([&] { return ::kill(pid, 0) != 0; }, std::chrono::seconds(10)))
            << "process " << pid << " survived the abort";
    }
}

TEST_F(ToolRunner, AddArgsPutsTheStoredWordsFirst) {
    const QStringList fixed{"--overwrite", "x.xy"};
    QSettings("Siderama", "Siderama").remove(Defaults::solveFieldArgs);
    EXPECT_EQ(SolverDelegate::addArgs(Defaults::solveFieldArgs, fixed), fixed);
    Defaults::setString(Defaults::solveFieldArgs, "");
    EXPECT_EQ(SolverDelegate::addArgs(Defaults::solveFieldArgs, fixed), fixed);
    Defaults::setString(Defaults::solveFieldArgs, "   --scale-low  10\t2   ");
    EXPECT_EQ(SolverDelegate::addArgs(Defaults::solveFieldArgs, fixed),
              QStringList({"--scale-low", "10\t2", "--overwrite", "x.xy"}));
    QSettings("Siderama", "Siderama").remove(Defaults::solveFieldArgs);
}

}  // namespace
