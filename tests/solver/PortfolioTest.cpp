// The portfolio end to end: with stand-in tools, the camera memory narrows
// the second solve of a same-sized image; with the real tools on generated
// fields, a right hint solves in the hinted attempt and a wrong one still
// solves blind.
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "solver/SolveOptions.h"
#include "solver/SolvePaths.h"
#include "solver/SolvePortfolio.h"
#include "skyfield/SkyField.h"
#include "support/FitsCards.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace siderama;

namespace {

void writeFits(const QString& path, int width, int height) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(testsupport::fitsHeader({testsupport::fitsCard("NAXIS1", QString::number(width)),
                                        testsupport::fitsCard("NAXIS2", QString::number(height))}));
}

struct Solve {
    QString failure;
    QStringList log;
};

Solve solve(const QString& image, const SolveOptions& options) {
    Solve result;
    SolvePortfolio portfolio([&](const QString& text, LogColor) { result.log << text; });
    result.failure = portfolio.solve(SolvePaths(image), options,
                                     SolvePortfolio::Clock::now() + std::chrono::seconds(options.timeLimit));
    return result;
}

class Portfolio : public ::testing::Test {
protected:
    void SetUp() override { QSettings("Siderama", "Siderama").clear(); }
    void TearDown() override { qunsetenv("SIDERAMA_TOOLS_DIR"); }
    QTemporaryDir dir;
};

TEST_F(Portfolio, CameraMemoryNarrowsTheNextSolveOfTheSameSize) {
    const QString calls = dir.filePath("calls");
    const QString tools = dir.filePath("tools");
    testsupport::writeScript(tools, "image2xy", "touch \"$4\"\n");
    // Solves everything: writes NAME.wcs and NAME.solved beside the xy list.
    testsupport::writeScript(tools, "solve-field",
                             "[ \"$1\" = --help ] && exit 0\necho \"$*\" >> " + calls.toUtf8() +
                                 "\neval b=\\${$#}; b=${b%.xy}; touch \"$b.wcs\" \"$b.solved\"\n");
    testsupport::writeScript(tools, "wcsinfo", "printf 'ra_center 83.8\\ndec_center -5.4\\npixscale 36\\n'\n");
    qputenv("SIDERAMA_TOOLS_DIR", tools.toLocal8Bit());
    SolveOptions options;
    options.racing = false;
    writeFits(dir.filePath("first.fits"), 1200, 900);
    writeFits(dir.filePath("second.fits"), 1200, 900);
    writeFits(dir.filePath("other.fits"), 1000, 900);
    for (const char* name : {"first", "second", "other"})
        ASSERT_EQ(solve(dir.filePath(name + QString(".fits")), options).failure.toStdString(), "") << name;
    QFile file(calls);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    const QString window = "--scale-units arcsecperpix --scale-low 34.2 --scale-high 37.8";
    EXPECT_FALSE(lines[0].contains("--scale-low 34.2")) << "first solve: blind";
    EXPECT_TRUE(lines[1].contains(window) && lines[1].endsWith("second.xy")) << qPrintable(lines[1]);
    EXPECT_FALSE(lines[2].contains("--scale-low 34.2")) << "another image size: another camera";
}

// The real tools on a generated 12° field.
class RealPortfolio : public Portfolio {
protected:
    void SetUp() override {
        Portfolio::SetUp();
        testsupport::linkTycho2Indexes(FOLDER());
        writeSolverConfigIfMissing(FOLDER(), CONFIG());
        qputenv("SIDERAMA_TOOLS_DIR", testsupport::realToolsDirectory().toLocal8Bit());
        image = dir.filePath("field.fits");
        truth = skyfield::runSkyField({"--ra", "83.8", "--dec", "-5.4", "--scale", "36", "--rotation", "30",
                                          "--width", "1200", "--height", "900", "--out", image});
        ASSERT_TRUE(truth);
    }

    void expectCentre() {
        QFile::remove(dir.filePath("check.wcs"));
        QFile::copy(dir.filePath("field.wcs"), dir.filePath("check.wcs"));
        const auto solution = WcsSummary::read(dir.filePath("check.wcs"));
        ASSERT_TRUE(solution);
        EXPECT_LT(skyfield::angularSeparation(solution->ra, solution->dec, truth->ra, truth->dec), 0.05);
    }

    QString image;
    std::optional<skyfield::SkyFieldTruth> truth;
};

TEST_F(RealPortfolio, HintsSolveFirstAndAWrongHintStillSolvesBlind) {
    struct Case {
        double low, high;
        const char* solvedBy;
    };
    for (const Case& c : {Case{34, 38, "hinted pipeline"}, Case{100, 120, ""}}) {
        SCOPED_TRACE(c.low);
        SolveOptions options;
        options.racing = false;
        options.scaleUnits = "arcsecperpix";
        options.scaleLow = c.low;
        options.scaleHigh = c.high;
        const Solve result = solve(image, options);
        ASSERT_EQ(result.failure.toStdString(), "") << qPrintable(result.log.join('\n'));
        const bool byHint = result.log.contains("Solved by hinted pipeline");
        EXPECT_EQ(byHint, *c.solvedBy != '\0') << qPrintable(result.log.join('\n'));
        expectCentre();
    }
}

}  // namespace
