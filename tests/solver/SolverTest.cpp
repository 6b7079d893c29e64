// The solver against stand-in tools: the tool runner (what reaches the log, in which colour, how exit statuses and
// aborts end), the state and its log, the one-solve-at-a-time rule, and the pipeline (arguments, conversion,
// clean-up, failures).
#include "core/Constants.h"
#include "core/Defaults.h"
#include "solver/SolvePaths.h"
#include "solver/SolveFieldOptions.h"
#include "solver/SolvePipeline.h"
#include "solver/StreamReader.h"
#include "solver/SolverDelegate.h"
#include "solver/ToolError.h"
#include "support/SolverProbe.h"
#include "support/TestSupport.h"
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <csignal>
#include <future>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace siderama;

namespace {

class SolverFixture : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("SIDERAMA_TOOLS_DIR", tools.toLocal8Bit());
        solver.setView(&view);
    }
    void TearDown() override {
        solver.abort();
        qunsetenv("SIDERAMA_TOOLS_DIR");
    }
    void tool(const QString& name, const QByteArray& script) { testsupport::writeScript(tools, name, script); }
    void settle() { testsupport::settleLog(solver, view); }
    // Runs execute() on another thread, as the pipeline does, and waits for
    // it with the event loop running; the error it threw, if any.
    std::optional<siderama::ToolError::Domain> run(const QString& name, const QStringList& arguments, bool parse = false) {
        auto result = std::async(std::launch::async, [&]() -> std::optional<siderama::ToolError::Domain> {
            try {
                solver.execute(name, arguments, parse);
                return std::nullopt;
            } catch (const siderama::ToolError& error) {
                return error.domain;
            }
        });
        while (result.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) QCoreApplication::processEvents();
        settle();
        return result.get();
    }
    QTemporaryDir scratch;
    QString tools = scratch.filePath("tools");
    siderama::SolverDelegate solver;
    testsupport::RecordingView view;
};

using Domain = ToolError::Domain;

class ToolRunning : public SolverFixture {};

TEST_F(ToolRunning, OutputArrivesLineByLineInOrder) {
    // stdout and stderr interleaved, empty lines, spaces and a carriage
    // return, invalid UTF-8 and no line feed at the end; standard input is
    // empty, whatever the program's own holds.
    tool("mixed", "echo one\necho two >&2\necho\necho '  '\nprintf 'cr\\r\\n'\n"
                  "printf 'bad \\377\\376 bytes\\n'\ncat\nprintf 'last'\n");
    const int saved = ::dup(STDIN_FILENO);
    QFile typed(testsupport::writeScript(scratch.path(), "typed", "typed\n"));  // something to read
    ASSERT_TRUE(typed.open(QIODevice::ReadOnly) && ::dup2(typed.handle(), STDIN_FILENO) == STDIN_FILENO);
    EXPECT_EQ(run("mixed", {}), std::nullopt);
    ::dup2(saved, STDIN_FILENO), ::close(saved);
    const QStringList expected{"\nmixed", "one", "two", "  ", "cr\r", QString("bad \uFFFD\uFFFD bytes"), "last", "mixed done"};
    EXPECT_EQ(view.texts(), expected);
    for (int i = 1; i < 7; ++i) EXPECT_EQ(view.lines[i].color, LogColor::plain) << i;
}

TEST_F(ToolRunning, LongOutputIsReadToTheEndInBatches) {
    // Lines cut across pipe reads, and far more output than a pipe holds.
    tool("verbose", "i=0; while [ $i -lt 50000 ]; do echo \"line $i of a verbose tool\"; i=$((i+1)); done\n");
    EXPECT_EQ(run("verbose", {}), std::nullopt);
    ASSERT_EQ(view.lines.size(), 50000 + 2);
    EXPECT_EQ(view.lines[50000].text, "line 49999 of a verbose tool");
    EXPECT_GT(view.batches, 1);
    EXPECT_LT(view.batches, 50000 / 10) << "log updates must come in batches";
}

// Script, how the run ends, the last log line.
TEST_F(ToolRunning, ExitTable) {
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

TEST_F(ToolRunning, ParseTakesTheFourCalibrationLinesInTheCLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // a decimal comma, where installed
    tool("wcsinfo", "echo 'ra_center 10.684'\necho 'dec_center  41.269'\necho 'orientation -3.5e1'\n"
                    "echo 'pixscale 1.234'\necho 'ra_center_h 0.71'\necho 'PIXSCALE 9'\necho 'pixscale=9'\n"
                    "echo 'imagew 900'\n");
    EXPECT_EQ(run("wcsinfo", {"x.wcs"}, true), std::nullopt);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(view.texts().first() + "|" + view.texts().last(), "\nwcsinfo x.wcs|wcsinfo done");
    EXPECT_EQ(std::pair(solver.state().status, solver.state().message), std::pair(SolverStatus::busy, QString("wcsinfo done")));
    EXPECT_EQ(view.controls, std::make_pair(false, true));
    const SolverState state = solver.state();
    EXPECT_EQ(std::tuple(state.raCenter, state.decCenter, state.orientation, state.pixelScale),
              std::tuple(10.684, 41.269, -35.0, 1.234));
    EXPECT_EQ(state.imageWidth, 900);
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

TEST_F(ToolRunning, AbortEndsTheToolAndEveryProcessItStarted) {
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

class SolverState_ : public SolverFixture {};

TEST_F(SolverState_, LinesFromManyThreadsKeepEachThreadsOrder) {
    constexpr int threads = 4, perThread = 5000;
    std::vector<std::thread> writers;
    std::atomic<int> finished = 0;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                solver.append(QString("%1 %2").arg(t).arg(i));
                if (i % 100 == 0) solver.busy(QString("busy %1").arg(t));
                (void)solver.state();
            }
            ++finished;
        });
    while (finished < threads) QCoreApplication::processEvents();  // batches applied meanwhile
    for (auto& writer : writers) writer.join();
    settle();
    std::vector<int> next(threads, 0);
    int total = 0;
    for (const auto& line : view.lines) {
        if (line.text.startsWith("busy")) continue;
        const QStringList words = line.text.split(' ');
        EXPECT_EQ(words[1].toInt(), next[words[0].toInt()]++) << "thread " << qPrintable(words[0]);
        ++total;
    }
    EXPECT_EQ(total, threads * perThread);
}

TEST_F(SolverState_, ConcurrentClaimsAdmitExactlyOneUntilItsReservationEnds) {
    for (int round = 0; round < 50; ++round) {
        std::vector<SolveReservation> reservations(8);
        std::vector<std::thread> clients;
        for (auto& reservation : reservations) clients.emplace_back([&] { reservation = solver.claim(); });
        for (auto& client : clients) client.join();
        ASSERT_EQ(std::count_if(reservations.begin(), reservations.end(), [](const auto& r) { return bool(r); }), 1);
    }
    EXPECT_FALSE(solver.isSolving()) << "a reservation that is dropped frees the solver";
    EXPECT_TRUE(solver.claim());
}

QStringList readLines(const QString& path) {
    return QString::fromUtf8(testsupport::readFile(path)).split('\n', Qt::SkipEmptyParts);
}

QString trash() { return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash"; }

QStringList trashedNames() {
    QStringList names;
    for (QDirIterator it(trash() + "/files", QDir::Files); it.hasNext();) names << QFileInfo(it.next()).fileName();
    names.sort();
    return names;
}

class Pipeline : public SolverFixture {
protected:
    void SetUp() override {
        SolverFixture::SetUp();
        QSettings("Siderama", "Siderama").clear();
        QSettings("Siderama", "Siderama").setValue("solve/racing", false);  // strategies in turn
        QDir(trash()).removeRecursively();
        testsupport::writeStandInTools(tools, {}, testsupport::orionCalibration, calls);
        QFile(image).open(QIODevice::WriteOnly);
    }
    bool solve(const QString& path) {
        const bool solved = testsupport::solveAndWait(solver, path);
        settle();
        return solved;
    }
    QStringList toolsCalled() const {
        QStringList names;
        for (const QString& line : readLines(calls)) names << line.section(' ', 0, 0);
        return names;
    }
    QString calls = scratch.filePath("calls");
    QString image = scratch.filePath("field.fits");
};

TEST_F(Pipeline, RunsTheFourToolsWithTheirArguments) {
    Defaults::setString(Defaults::solveFieldArgs, "  --scale-units   deg\twidth ");
    ASSERT_TRUE(solve(image));
    const QString b = scratch.filePath("field");
    EXPECT_EQ(readLines(calls), QStringList({
        "image2xy -O -o " + b + ".xy " + image,
        "solve-field --scale-units deg\twidth --overwrite --no-plots --no-remove-lines "
        "--sort-column FLUX --uniformize 0 --config " + CONFIG() + " " + b + ".xy",
        "wcsinfo " + b + ".wcs",  // the solution is checked before it counts
        "new-wcs -v -d -i " + image + " -o " + b + "_wcs.partial.fits -w " + b + ".wcs", "wcsinfo " + b + ".wcs"}));
    const SolverState state = solver.state();
    EXPECT_EQ(state.status, SolverStatus::done);
    EXPECT_EQ(std::tuple(state.raCenter, state.decCenter, state.orientation, state.pixelScale),
              std::tuple(83.8, -5.4, 150.0, 36.01));
    EXPECT_TRUE(state.message.startsWith("Done in ")) << qPrintable(state.message);
    EXPECT_EQ(view.lines.last().color, GREEN);
    EXPECT_FALSE(view.texts().join('\n').contains("Converting")) << "FITS input is not converted";
    EXPECT_TRUE(QFile::exists(b + ".xy")) << "removal is off: intermediate files stay";
    EXPECT_TRUE(trashedNames().isEmpty());
}

TEST_F(Pipeline, TheEndOfASolveFreesTheSolverInTheSameStep) {
    // A remote client that reads "done" or "failed" must be able to upload the next image.
    for (const SolverStatus end : {SolverStatus::done, SolverStatus::failed}) {
        if (end == SolverStatus::failed) {
            tool("solve-field", "exit 2\n");
            solver.saveState(true, false);  // the clean-up follows the failure
        }
        for (int round = 0; round < 5; ++round) {
            ASSERT_TRUE(solver.solvePath(image));
            QElapsedTimer clock;
            clock.start();
            while (solver.state().status != end && clock.elapsed() < 120000) std::this_thread::yield();
            ASSERT_EQ(solver.state().status, end) << "round " << round;
            SolveReservation next = solver.claim();
            ASSERT_TRUE(next) << "round " << round;
            solver.solve(std::move(next), image);
            ASSERT_TRUE(testsupport::waitUntil([&] { return !solver.isSolving(); }));
        }
    }
    settle();
}

TEST_F(Pipeline, AnyErrorBecomesAFailedSolveWithItsMessage) {
    struct FullDisk : ToolRunner {
        void execute(const QString&, const QStringList&, bool) override { throw std::runtime_error("disk full"); }
    } failing;
    const SolveOutcome outcome = SolvePipeline(failing, solver, false, SolveOptions{}).run(image);
    EXPECT_EQ(std::pair(outcome.solved, outcome.message), std::pair(false, QString("disk full")));
}

TEST_F(Pipeline, ToolsKeepTheDelegatesPriorityWhateverThreadAsks) {
    // An HTTP connection thread runs at a lower priority; the solve it
    // starts must not inherit that.
    const QString niceness = scratch.filePath("niceness");
    testsupport::writeScript(tools, "image2xy", "nice > " + niceness.toUtf8() + "\ntouch \"$3\"\n");
    const int own = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    std::thread([&] {
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), own + 5);
        EXPECT_TRUE(solver.solvePath(image));
    }).join();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !solver.isSolving(); }, std::chrono::seconds(60)));
    EXPECT_EQ(readLines(niceness), QStringList{QString::number(own)});
}

TEST_F(Pipeline, PassesNoFits2FitsOnlyWhenSolveFieldKnowsIt) {
    tool("solve-field", "[ \"$1\" = --help ] && { echo '  --no-fits2fits: skip'; exit 0; }\n"
                        "echo \"$*\" >> " + calls.toUtf8() + "\nexit 1\n");
    EXPECT_FALSE(solve(image));
    const QStringList words = readLines(calls).filter("--no-remove-lines").value(0).split(' ');
    EXPECT_EQ(words.mid(0, 2), QStringList({"--overwrite", "--no-fits2fits"}));
    EXPECT_EQ(words.size(), 11) << "the eleven fixed arguments";
}

// solve-field failing or finding no solution: the run stops there, keeps the last calibration and cleans up.
TEST_F(Pipeline, FailingSolveFieldStopsTheRunKeepsTheLastCalibrationAndCleansUp) {
    // The pipeline, the wide search on its list unless the pipeline searched it to the end, "fast xy"
    // (whose image2xy fails here) and solve-field's defaults.
    for (const auto& [script, message, called] : std::vector<std::tuple<QByteArray, QString, QStringList>>{
             {"exit 2\n", "solve-field terminated (status 2)",
              {"image2xy", "solve-field", "solve-field", "image2xy", "solve-field"}},
             {"echo 'Did not solve (or no WCS file was written).'\n", "", {"image2xy", "solve-field", "image2xy", "solve-field"}}}) {
        testsupport::writeStandInTools(tools, {}, testsupport::orionCalibration, calls);
        solver.saveState(false, false);
        ASSERT_TRUE(solve(image));
        solver.saveState(true, false);
        QDir(trash()).removeRecursively();
        QFile::remove(calls);
        tool("solve-field", "[ \"$1\" = --help ] && exit 0\necho \"solve-field\" >> " + calls.toUtf8() + "\ntouch " +
                                scratch.filePath("field.axy").toUtf8() + "\n" + script);
        EXPECT_FALSE(solve(image));
        EXPECT_EQ(toolsCalled(), called);
        EXPECT_EQ(solver.state().status, SolverStatus::failed);
        if (!message.isEmpty()) EXPECT_EQ(solver.state().message, message);
        EXPECT_EQ(view.lines.last().color, RED);
        EXPECT_EQ(solver.state().raCenter, 83.8);
        // The earlier solution went before solve-field ran; the rest is trashed.
        EXPECT_EQ(trashedNames(), QStringList({"field-indx.xyls", "field.axy", "field.corr", "field.match", "field.rdls", "field.xy"}));
        EXPECT_TRUE(QFile::exists(image)) << "the user's FITS image is never trashed";
        EXPECT_TRUE(QFile::exists(scratch.filePath("field_wcs.fits"))) << "the result of the last solve stays";
    }
}

TEST_F(Pipeline, ConvertsOtherFormatsAndTrashesTheConversion) {
    solver.saveState(true, false);
    const QString png = scratch.filePath("m31.png");
    QImage picture(64, 48, QImage::Format_Grayscale8);
    picture.fill(100);
    ASSERT_TRUE(picture.save(png));
    ASSERT_TRUE(solve(png));
    const QString fits = scratch.filePath("m31.fits");
    EXPECT_EQ(view.lines[0].text, "\nConverting " + png + " to " + fits + "...");
    EXPECT_EQ(view.lines[0].color, YELLOW);
    EXPECT_TRUE(readLines(calls).value(0).endsWith(" " + fits));
    EXPECT_EQ(trashedNames(), QStringList({"m31-indx.xyls", "m31.axy", "m31.corr", "m31.fits", "m31.match", "m31.rdls",
                                           "m31.solved", "m31.wcs", "m31.xy"}));
    EXPECT_TRUE(QFile::exists(scratch.filePath("m31_wcs.fits")));
    EXPECT_TRUE(QFile::exists(png));
}

TEST(SolvePaths, DoneInRoundsToHundredths) {
    for (const auto& [seconds, text] : std::vector<std::pair<double, QString>>{
             {12.344, "12.34"}, {12.345001, "12.35"}, {12.3, "12.3"}, {7.0, "7.0"}, {6.999, "7.0"}, {0.004, "0.0"}})
        EXPECT_EQ(formatSeconds(seconds), text) << seconds;
}

// Tools that write without end, print endless lines, leave a child holding their output, or hang when asked for
// their options.
struct Abuse {
    const char* name;
    QByteArray script;
    std::optional<Domain> outcome;
    QString lastLine;  // the last log line before the runner's own
};

class ToolAbuse : public SolverFixture, public ::testing::WithParamInterface<Abuse> {
protected:
    // A child that escaped the runner would still be running (not a zombie).
    bool childLeft() {
        QFile pid(tools + "/child.pid");
        if (!pid.open(QIODevice::ReadOnly)) return false;
        const QString child = pid.readAll().trimmed();
        const auto running = [&] {
            QFile stat("/proc/" + child + "/stat");
            return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
        };
        const bool left = !testsupport::waitUntil([&] { return !running(); }, std::chrono::seconds(5));
        ::kill(child.toInt(), SIGKILL);
        return left;
    }
};

TEST_P(ToolAbuse, EndsWithABoundedLog) {
    tool("abuse", GetParam().script);
    EXPECT_EQ(run("abuse", {}), GetParam().outcome);
    ASSERT_GE(view.lines.size(), 2);
    EXPECT_EQ(view.lines[view.lines.size() - 2].text, GetParam().lastLine);
    EXPECT_FALSE(childLeft());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToolAbuse,
    ::testing::Values(
        Abuse{"EndlessOutput", "yes $(printf '%01000d' 0)", Domain::failed, QString(1000, '0')},
        Abuse{"OverlongLine", "head -c 100000 /dev/zero | tr '\\0' x", std::nullopt,
              QString(StreamReader::longestLine, 'x') + StreamReader::cutMark},
        Abuse{"ChildHoldsTheOutput", "setsid sleep 600 & echo $! > \"$(dirname \"$0\")/child.pid\"; echo left",
              std::nullopt, "left"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SolverFixture, HangingOptionProbeCountsAsUnknown) {
    tool("hang", "sleep 600\n");
    EXPECT_FALSE(solveFieldSupports(tools + "/hang", "--no-fits2fits"));
}

}  // namespace
