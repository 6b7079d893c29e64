// The solve pipeline with stand-in tools that record how they were called
// and leave the files the real ones leave.
#include "solver/SolverFixture.h"

#include "core/Constants.h"
#include "core/Defaults.h"
#include "solver/SolvePaths.h"
#include "solver/SolvePipeline.h"

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
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
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
        "solve-field --scale-units deg\twidth --overwrite --no-plots --no-remove-lines --no-verify-uniformize "
        "--sort-column FLUX --uniformize 0 --config " + CONFIG() + " " + b + ".xy",
        "new-wcs -v -d -i " + image + " -o " + b + "_wcs.fits -w " + b + ".wcs",
        "wcsinfo " + b + ".wcs"}));
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
        if (end == SolverStatus::failed) tool("solve-field", "exit 2\n");
        for (int round = 0; round < 5; ++round) {
            ASSERT_TRUE(solver.solvePath(image));
            QElapsedTimer clock;
            clock.start();
            while (solver.state().status != end && clock.elapsed() < 30000) {
            }
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
    const SolveOutcome outcome = SolvePipeline(failing, solver, false).run(image);
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
                        "echo \"$*\" > " + calls.toUtf8() + "\nexit 1\n");
    EXPECT_FALSE(solve(image));
    const QStringList words = readLines(calls).value(0).split(' ');
    EXPECT_EQ(words.mid(0, 2), QStringList({"--overwrite", "--no-fits2fits"}));
    EXPECT_EQ(words.size(), 12) << "the twelve fixed arguments";
}

TEST_F(Pipeline, FailingSolveFieldStopsTheRunKeepsTheLastCalibrationAndCleansUp) {
    ASSERT_TRUE(solve(image));
    solver.saveState(true, false);
    QDir(trash()).removeRecursively();
    QFile::remove(calls);
    tool("solve-field", "[ \"$1\" = --help ] && exit 0\necho \"solve-field\" >> " + calls.toUtf8() +
                            "\ntouch " + scratch.filePath("field.axy").toUtf8() + "\nexit 2\n");
    EXPECT_FALSE(solve(image));
    EXPECT_EQ(toolsCalled(), QStringList({"image2xy", "solve-field"}));
    EXPECT_EQ(solver.state().status, SolverStatus::failed);
    EXPECT_EQ(solver.state().message, "solve-field terminated (status 2)");
    EXPECT_EQ(solver.state().raCenter, 83.8);
    // The earlier solution went before solve-field ran; the rest is trashed.
    EXPECT_EQ(trashedNames(), QStringList({"field-indx.xyls", "field.axy", "field.corr", "field.match", "field.rdls", "field.xy"}));
    EXPECT_TRUE(QFile::exists(image)) << "the user's FITS image is never trashed";
    EXPECT_TRUE(QFile::exists(scratch.filePath("field_wcs.fits"))) << "the result of the last solve stays";
}

TEST_F(Pipeline, SolveFieldWithoutSolutionIsAFailure) {
    ASSERT_TRUE(solve(image));  // its solution stays beside the image
    QFile::remove(calls);
    tool("solve-field", "[ \"$1\" = --help ] && exit 0\necho 'Did not solve (or no WCS file was written).'\n");
    EXPECT_FALSE(solve(image));
    EXPECT_EQ(toolsCalled(), QStringList({"image2xy"}));
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
    EXPECT_EQ(trashedNames(), QStringList({"m31-indx.xyls", "m31.axy", "m31.corr", "m31.fits", "m31.match", "m31.rdls",
                                           "m31.solved", "m31.wcs", "m31.xy"}));
    EXPECT_TRUE(QFile::exists(scratch.filePath("m31_wcs.fits")));
    EXPECT_TRUE(QFile::exists(png));
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
}

TEST(SolvePaths, DoneInRoundsToHundredths) {
    for (const auto& [seconds, text] : std::vector<std::pair<double, QString>>{
             {12.344, "12.34"}, {12.345001, "12.35"}, {12.3, "12.3"}, {7.0, "7.0"}, {6.999, "7.0"}, {0.004, "0.0"}})
        EXPECT_EQ(formatSeconds(seconds), text) << seconds;
}

}  // namespace
