// The tool runner against stand-in tools: what reaches the log, in which
// colour, and how exit statuses and aborts become the solver state.
#include "solver/SolverFixture.h"

#include <QFile>
#include <QThread>
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
    // return, invalid UTF-8 and no line feed at the end; standard input is
    // empty, whatever the program's own holds.
    tool("mixed", "echo one\necho two >&2\necho\necho '  '\nprintf 'cr\\r\\n'\n"
                  "printf 'bad \\377\\376 bytes\\n'\ncat\nprintf 'last'\n");
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    ASSERT_EQ(::write(input[1], "typed\n", 6), 6);
    ::close(input[1]);
    const int saved = ::dup(STDIN_FILENO);
    ::dup2(input[0], STDIN_FILENO);
    EXPECT_EQ(run("mixed", {}), std::nullopt);
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    ::close(input[0]);
    const QStringList expected{"\nmixed", "one", "two", "  ", "cr\r", QString("bad \uFFFD\uFFFD bytes"), "last", "mixed done"};
    EXPECT_EQ(view.texts(), expected);
    for (int i = 1; i < 7; ++i) EXPECT_EQ(view.lines[i].color, LogColor::plain) << i;
}

TEST_F(ToolRunner, LongOutputIsReadToTheEndInBatches) {
    // Lines cut across pipe reads, and far more output than a pipe holds.
    tool("verbose", "i=0; while [ $i -lt 50000 ]; do echo \"line $i of a verbose tool\"; i=$((i+1)); done\n"
                    "head -c 200000 /dev/zero | tr '\\0' x; echo\n");
    EXPECT_EQ(run("verbose", {}), std::nullopt);
    ASSERT_EQ(view.lines.size(), 50000 + 3);
    EXPECT_EQ(view.lines[50000].text, "line 49999 of a verbose tool");
    EXPECT_EQ(view.lines[50001].text, QString(200000, 'x'));
    EXPECT_GT(view.batches, 1);
    EXPECT_LT(view.batches, 50000 / 10) << "log updates must come in batches";
}

// Script, how the run ends, the last log line.
TEST_F(ToolRunner, ExitTable) {
    QFile(tools + "/plain").open(QIODevice::WriteOnly);  // not executable
    const std::vector<std::tuple<QString, QByteArray, Domain, QString>> cases{
        {"broken", "echo oops\nexit 3\n", Domain::terminated, "broken terminated (status 3)"},
        {"exit15", "exit 15\n", Domain::terminated, "exit15 terminated (status 15)"},
        {"crash", "kill -SEGV $$\n", Domain::terminated, "crash terminated by signal SIGSEGV"},
        {"killed", "kill -TERM $$\n", Domain::aborted, "killed aborted"},
        {"missing", "", Domain::failed, "missing failed to start"},
        {"plain", "", Domain::failed, "plain failed to start"},
    };
    for (const auto& [name, script, domain, last] : cases) {
        if (!script.isEmpty()) tool(name, script);
        EXPECT_EQ(run(name, {"x"}), domain) << qPrintable(name);
        EXPECT_EQ(view.lines.last().text, last);
        EXPECT_EQ(view.lines.last().color, RED);
        EXPECT_EQ(solver.state().status, SolverStatus::failed);
        EXPECT_EQ(solver.state().message, last);
        EXPECT_EQ(view.controls, std::make_pair(true, false));
    }
}

TEST_F(ToolRunner, ParseTakesTheFourCalibrationLinesInTheCLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // a decimal comma, where installed
    tool("wcsinfo", "echo 'ra_center 10.684'\necho 'dec_center  41.269'\necho 'orientation -3.5e1'\n"
                    "echo 'pixscale 1.234'\necho 'ra_center_h 0.71'\necho 'PIXSCALE 9'\necho 'pixscale=9'\n"
                    "echo 'imagew 900'\n");
    EXPECT_EQ(run("wcsinfo", {"x.wcs"}, true), std::nullopt);
    std::setlocale(LC_NUMERIC, saved.c_str());
    const SolverState state = solver.state();
    EXPECT_EQ(std::tuple(state.raCenter, state.decCenter, state.orientation, state.pixelScale),
              std::tuple(10.684, 41.269, -35.0, 1.234));
    const QList<LogColor> colors{YELLOW, GREEN, GREEN, GREEN, GREEN, LogColor::plain,
                                 LogColor::plain, LogColor::plain, LogColor::plain, YELLOW};
    ASSERT_EQ(view.lines.size(), colors.size());
    for (int i = 0; i < colors.size(); ++i) EXPECT_EQ(view.lines[i].color, colors[i]) << i;

    tool("wcsinfo", "echo 'pixscale abc'\necho 'ra_center 1,5'\necho 'orientation '\n");
    EXPECT_EQ(run("wcsinfo", {}, true), std::nullopt);
    EXPECT_EQ(solver.state().pixelScale, std::nullopt);
    EXPECT_EQ(solver.state().raCenter, std::nullopt);
    EXPECT_EQ(solver.state().orientation, std::nullopt);
    EXPECT_EQ(solver.state().decCenter, 41.269) << "lines not printed leave values alone";

    tool("other", "echo 'ra_center 10'\n");
    EXPECT_EQ(run("other", {}, false), std::nullopt);
    EXPECT_EQ(solver.state().raCenter, std::nullopt) << "without parse the lines are only logged";
    EXPECT_EQ(view.lines[view.lines.size() - 2].color, LogColor::plain);
}

TEST_F(ToolRunner, AbortEndsTheToolAndEveryProcessItStarted) {
    const QString pids = scratch.filePath("pids");
    // The tool ignores SIGTERM and starts a child that does too; both note
    // their pid, then wait.
    tool("stubborn", "trap '' TERM\nsh -c \"trap '' TERM; echo \\$\\$ >> " + pids.toUtf8() +
                         "; exec sleep 60\" &\necho $$ >> " + pids.toUtf8() + "\necho started\nsleep 60\n");
    const auto noted = [&] {
        QFile file(pids);
        return file.open(QIODevice::ReadOnly) ? file.readAll().simplified().split(' ') : QList<QByteArray>();
    };
    std::thread aborter([&] {
        while (noted().size() < 2) QThread::msleep(10);
        solver.abort();
    });
    EXPECT_EQ(run("stubborn", {}), Domain::aborted);
    aborter.join();
    EXPECT_EQ(view.lines.last().text, "stubborn aborted");
    EXPECT_EQ(solver.state().status, SolverStatus::failed);
    for (const QByteArray& word : noted()) {
        const pid_t pid = word.toInt();
        ASSERT_GT(pid, 1);
        EXPECT_TRUE(testsupport::waitUntil([&] { return ::kill(pid, 0) != 0; })) << "process " << pid << " survived";
    }
}

}  // namespace
