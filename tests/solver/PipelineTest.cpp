// The solve pipeline with stand-in tools that record how they were called
// and leave the files the real ones leave.
#include "solver/SolverFixture.h"

#include "core/Constants.h"
#include "core/Defaults.h"
#include "solver/SolvePaths.h"
#include "solver/SolvePipeline.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QStandardPaths>

#include <sys/resource.h>
#include <unistd.h>

#include <thread>

using namespace siderama;

namespace {

QStringList readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

QStringList trashedNames() {
    QStringList names;
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
    for (QDirIterator it(trash, QDir::Files); it.hasNext();) names << QFileInfo(it.next()).fileName();
    names.sort();
    return names;
}

void emptyTrash() {
    QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash").removeRecursively();
}

class Pipeline : public SolverFixture {
protected:
    void SetUp() override {
        SolverFixture::SetUp();
        QSettings("Siderama", "Siderama").clear();
        QSettings("Siderama", "Siderama").setValue("solve/racing", false);  // strategies in turn
        emptyTrash();
        calls = scratch.filePath("calls");
        const QByteArray record = "echo \"$(basename $0) $*\" >> " + calls.toUtf8() + "\n";
        // Each stand-in leaves what the real tool leaves.
        tool("image2xy", record + "touch \"$3\"\n");
        tool("solve-field", "[ \"$1\" = --help ] && { echo '  --overwrite'; exit 0; }\n" + record +
                                "eval b=\\${$#}; b=${b%.xy}\n"
                                "for e in .wcs .axy .corr .match .rdls .solved -indx.xyls; do touch \"$b$e\"; done\n");
        tool("new-wcs", record + "touch \"$6\"\n");
        tool("wcsinfo", record + "echo 'ra_center 83.8'\necho 'dec_center -5.4'\necho 'orientation 150'\n"
                                 "echo 'pixscale 36.01'\n");
        image = scratch.filePath("field.fits");
        QFile(image).open(QIODevice::WriteOnly);
    }

    bool solve(const QString& path) {
        bool finished = false, result = false;
        auto connection = QObject::connect(&solver, &SolverDelegate::solveFinished, [&](bool solved) {
            finished = true;
            result = solved;
        });
        EXPECT_TRUE(solver.solvePath(path));
        EXPECT_TRUE(testsupport::waitUntil([&] { return finished; }, std::chrono::seconds(60)));
        QObject::disconnect(connection);
        settle();
        return result;
    }

    QStringList toolsCalled() const {
        QStringList names;
        for (const QString& line : readLines(calls)) names << line.section(' ', 0, 0);
        return names;
    }

    QString calls, image;
};

TEST_F(Pipeline, RunsTheFourToolsWithTheirArguments) {
    Defaults::setString(Defaults::solveFieldArgs, "  --scale-units   degwidth ");
    ASSERT_TRUE(solve(image));
    const QString b = scratch.filePath("field");
    const QStringList expected{
        "image2xy -O -o " + b + ".xy " + image,
        "solve-field --scale-units degwidth --overwrite --no-plots --no-remove-lines "
        "--sort-column FLUX --uniformize 0 --config " + CONFIG() + " " + b + ".xy",
        "wcsinfo " + b + ".wcs",  // the solution is checked before it counts
        "new-wcs -v -d -i " + image + " -o " + b + "_wcs.fits -w " + b + ".wcs",
        "wcsinfo " + b + ".wcs"};
    EXPECT_EQ(readLines(calls), expected);
    const SolverState state = solver.state();
    EXPECT_EQ(state.status, SolverStatus::done);
    EXPECT_EQ(state.raCenter, 83.8);
    EXPECT_EQ(state.decCenter, -5.4);
    EXPECT_EQ(state.orientation, 150.0);
    EXPECT_EQ(state.pixelScale, 36.01);
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
            while (solver.state().status != end && clock.elapsed() < 30000) {}
            ASSERT_EQ(solver.state().status, end);
            SolveReservation next = solver.claim();
            EXPECT_TRUE(next) << "round " << round;
            if (next) solver.solve(std::move(next), image);
            while (solver.isSolving()) QCoreApplication::processEvents();
        }
    }
    settle();
}

TEST_F(Pipeline, AnyErrorBecomesAFailedSolveWithItsMessage) {
    struct FullDisk : ToolRunner {
        void execute(const QString&, const QStringList&, bool) override { throw std::runtime_error("disk full"); }
    } tools;
    const SolveOutcome outcome = SolvePipeline(tools, solver, false, SolveOptions{}).run(image);
    EXPECT_FALSE(outcome.solved);
    EXPECT_EQ(outcome.message, "disk full");
}

TEST_F(Pipeline, ToolsKeepTheDelegatesPriorityWhateverThreadAsks) {
    // An HTTP connection thread runs at the lowest priority; the solve it
    // starts must not inherit that.
    const QString niceness = scratch.filePath("niceness");
    tool("image2xy", "nice > " + niceness.toUtf8() + "\ntouch \"$3\"\n");
    const int own = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    std::thread([&] {
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), own + 5);
        EXPECT_TRUE(solver.solvePath(image));
    }).join();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !solver.isSolving(); }, std::chrono::seconds(60)));
    settle();
    EXPECT_EQ(solver.state().status, SolverStatus::done);
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

TEST_F(Pipeline, FailingSolveFieldStopsTheRunButCleansUp) {
    // A solve that succeeded before leaves its calibration in place.
    ASSERT_TRUE(solve(image));
    solver.saveState(true, false);
    emptyTrash();
    QFile::remove(calls);
    tool("solve-field", "[ \"$1\" = --help ] && exit 0\necho \"solve-field\" >> " + calls.toUtf8() +
                            "\ntouch " + scratch.filePath("field.axy").toUtf8() + "\nexit 2\n");
    EXPECT_FALSE(solve(image));
    // The pipeline, then "fast xy" (whose image2xy fails here) and solve-field's defaults.
    EXPECT_EQ(toolsCalled(), QStringList({"image2xy", "solve-field", "image2xy", "solve-field"}));
    EXPECT_EQ(solver.state().status, SolverStatus::failed);
    EXPECT_EQ(solver.state().message, "solve-field terminated (status 2)");
    EXPECT_EQ(solver.state().raCenter, 83.8) << "a failed run keeps the last calibration";
    // The earlier solution went before solve-field ran; the rest is trashed.
    EXPECT_EQ(trashedNames(), QStringList({"field-indx.xyls", "field.axy", "field.corr", "field.match",
                                           "field.rdls", "field.xy"}));
    EXPECT_TRUE(QFile::exists(image)) << "the user's FITS image is never trashed";
    EXPECT_TRUE(QFile::exists(scratch.filePath("field_wcs.fits"))) << "the result of the last solve stays";
}

TEST_F(Pipeline, SolveFieldWithoutSolutionIsAFailure) {
    // The solution of an earlier run of the same image stays beside it.
    ASSERT_TRUE(solve(image));
    QFile::remove(calls);
    tool("solve-field", "[ \"$1\" = --help ] && exit 0\necho 'Did not solve (or no WCS file was written).'\n");
    EXPECT_FALSE(solve(image));
    EXPECT_EQ(toolsCalled(), QStringList({"image2xy", "image2xy"}));
    EXPECT_EQ(solver.state().status, SolverStatus::failed);
    EXPECT_EQ(view.lines.last().color, RED);
    EXPECT_EQ(view.texts().filter("Done in").size(), 1) << "only the first run was done";
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
    const QStringList expectedTrash{"m31-indx.xyls", "m31.axy", "m31.corr", "m31.fits", "m31.match",
                                    "m31.rdls", "m31.solved", "m31.wcs", "m31.xy"};
    EXPECT_EQ(trashedNames(), expectedTrash);
    EXPECT_TRUE(QFile::exists(scratch.filePath("m31_wcs.fits")));
    EXPECT_TRUE(QFile::exists(png));
}

TEST_F(Pipeline, UpperCaseFitsNamesAreNotConverted) {
    const QString upper = scratch.filePath("M31.FITS");
    QFile(upper).open(QIODevice::WriteOnly);
    ASSERT_TRUE(solve(upper));
    EXPECT_TRUE(readLines(calls).value(0).endsWith(" " + upper));
    EXPECT_FALSE(view.texts().join('\n').contains("Converting"));
}

TEST_F(Pipeline, UndecodableImageFailsBeforeAnyTool) {
    const QString broken = scratch.filePath("broken.jpg");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is no JPEG");
    file.close();
    EXPECT_FALSE(solve(broken));
    EXPECT_EQ(solver.state().status, SolverStatus::failed);
    EXPECT_EQ(view.lines.last().text, "\nFailed to convert " + broken + " to FITS");
    EXPECT_EQ(view.lines.last().color, RED);
    EXPECT_TRUE(toolsCalled().isEmpty());
    EXPECT_FALSE(QFile::exists(scratch.filePath("broken.fits")));
}

TEST_F(Pipeline, AbortDuringSolveFieldLeavesNoProcessBehind) {
    const QString pid = scratch.filePath("pid");
    tool("solve-field", "[ \"$1\" = --help ] && exit 0\nsh -c 'echo $$ > " + pid.toUtf8() +
                            "; exec sleep 60' &\nwait\n");
    bool finished = false;
    QObject::connect(&solver, &SolverDelegate::solveFinished, [&] { finished = true; });
    ASSERT_TRUE(solver.solvePath(image));
    ASSERT_TRUE(testsupport::waitUntil([&] { return readLines(pid).size() == 1; }));
    solver.abort();
    ASSERT_TRUE(testsupport::waitUntil([&] { return finished; }, std::chrono::seconds(15)));
    settle();
    EXPECT_EQ(solver.state().message, "solve-field aborted");
    EXPECT_EQ(toolsCalled(), QStringList({"image2xy"}));
    const pid_t child = readLines(pid).value(0).toInt();
    EXPECT_TRUE(testsupport::waitUntil([&] { return ::kill(child, 0) != 0; }, std::chrono::seconds(10)));
    EXPECT_FALSE(view.texts().join('\n').contains("Done in"));
}

TEST(SolvePaths, DerivesEveryFileFromTheInput) {
    const SolvePaths jpeg("/data/m31.jpeg");
    EXPECT_EQ(jpeg.fits, "/data/m31.fits");
    EXPECT_TRUE(jpeg.needsConversion);
    EXPECT_EQ(jpeg.wcsImage, "/data/m31_wcs.fits");
    EXPECT_EQ(jpeg.intermediateFiles().first(), "/data/m31.xy");
    EXPECT_EQ(jpeg.intermediateFiles().last(), "/data/m31-indx.xyls");
    for (const char* fits : {"/d/a.fit", "/d/a.fits", "/d/a.FTS", "/d/a.Fits"}) {
        const SolvePaths paths(fits);
        EXPECT_FALSE(paths.needsConversion) << fits;
        EXPECT_EQ(paths.fits, fits);
    }
    EXPECT_EQ(SolvePaths("/d.x/noext").base, "/d.x/noext");
    EXPECT_EQ(SolvePaths("/d/two.dots.png").base, "/d/two.dots");
}

TEST(SolvePaths, DoneInRoundsToHundredths) {
    EXPECT_EQ(formatSeconds(12.344), "12.34");
    EXPECT_EQ(formatSeconds(12.345001), "12.35");
    EXPECT_EQ(formatSeconds(12.3), "12.3");
    EXPECT_EQ(formatSeconds(7.0), "7.0");
    EXPECT_EQ(formatSeconds(6.999), "7.0");
    EXPECT_EQ(formatSeconds(0.004), "0.0");
    EXPECT_EQ(formatSeconds(123.456), "123.46");
}

}  // namespace
