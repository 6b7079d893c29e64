// Whole solves with the real plate-solving tools and the Tycho-2 index
// files: generated star fields in every input format, at several positions,
// scales and rotations, through the pipeline and through `siderama --solve`.
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "skyfield/SkyField.h"
#include "solver/SolverDelegate.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtPlugin>
#include <cmath>
#include <gtest/gtest.h>

Q_IMPORT_PLUGIN(RawImagePlugin)

using namespace siderama;

namespace {

struct Field {
    const char* format;
    double ra, dec, scale, rotation;
};

// Difference of two angles in degrees, in (-180, 180].
double angleDifference(double a, double b) {
    const double d = std::fmod(a - b, 360.0);
    return d > 180 ? d - 360 : (d <= -180 ? d + 360 : d);
}

class SolveFields : public ::testing::TestWithParam<Field> {
protected:
    static void SetUpTestSuite() {
        writeSolverConfigIfMissing(FOLDER(), CONFIG());
        testsupport::linkTycho2Indexes(FOLDER());
    }
    void SetUp() override {
        if (!QFile::exists("/usr/share/astrometry/index-tycho2-10.littleendian.fits"))
            GTEST_SKIP() << "Tycho-2 index files missing (astrometry-data-tycho2-10-19-littleendian)";
        qputenv("SIDERAMA_TOOLS_DIR", testsupport::realToolsDirectory().toLocal8Bit());
    }

    std::optional<testsupport::SkyFieldTruth> makeField(const Field& field, const QString& path) {
        return testsupport::runSkyField({"--ra", QString::number(field.ra), "--dec", QString::number(field.dec),
                                         "--width", "900", "--height", "700", "--scale",
                                         QString::number(field.scale), "--rotation",
                                         QString::number(field.rotation), "--format", field.format, "--out",
                                         path});
    }

    QTemporaryDir scratch;
};

TEST_P(SolveFields, ThePipelineFindsTheFieldWhereItWasMade) {
    const Field field = GetParam();
    const QString extension = QString(field.format).startsWith("raw") ? "dat" : QString(field.format).left(4);
    const QString image = scratch.filePath(QString("field.") + extension);
    const auto truth = makeField(field, image);
    ASSERT_TRUE(truth) << "skyfield failed";

    SolverDelegate solver;
    bool finished = false, solved = false;
    QObject::connect(&solver, &SolverDelegate::solveFinished, [&](bool result) {
        finished = true;
        solved = result;
    });
    ASSERT_TRUE(solver.solvePath(image));
    ASSERT_TRUE(testsupport::waitUntil([&] { return finished; }, std::chrono::seconds(300)));
    const SolverState state = solver.state();
    ASSERT_TRUE(solved) << qPrintable(state.message);
    EXPECT_EQ(state.status, SolverStatus::done);
    ASSERT_TRUE(state.raCenter && state.decCenter && state.pixelScale && state.orientation);
    const double offPixels =
        testsupport::angularSeparation(truth->ra, truth->dec, *state.raCenter, *state.decCenter) * 3600 /
        truth->scale;
    EXPECT_LT(offPixels, 2.0);
    EXPECT_NEAR(*state.pixelScale, truth->scale, truth->scale * 0.01);
    // wcsinfo gives the orientation at the solution's reference pixel, which
    // need not be the centre: away from the equator the meridians converge,
    // so allow a few degrees.
    EXPECT_NEAR(angleDifference(*state.orientation, 180 - truth->rotation), 0, 3.0);

    QFile wcsImage(scratch.filePath("field_wcs.fits"));
    ASSERT_TRUE(wcsImage.open(QIODevice::ReadOnly));
    const QByteArray header = wcsImage.read(2880 * 20);
    EXPECT_TRUE(header.contains("CTYPE1  = 'RA---TAN")) << "the result carries WCS headers";
    EXPECT_TRUE(header.contains("CRVAL1"));
}

INSTANTIATE_TEST_SUITE_P(
    EveryInputFormat, SolveFields,
    ::testing::Values(Field{"fits", 83.8, -5.4, 36, 30}, Field{"png8", 10.7, 41.3, 24, 0},
                      Field{"jpg", 201.3, -43.0, 40, 75}, Field{"png16", 279.2, 38.8, 16, 200},
                      Field{"tiff16", 56.8, 24.1, 30, 315}, Field{"tiff48", 114.8, 5.2, 44, 120},
                      Field{"raw1", 310.4, 45.3, 28, 10}, Field{"raw2", 165.9, 61.8, 36, 260},
                      Field{"raw3", 88.8, 7.4, 20, 45}),
    [](const auto& info) { return std::string(info.param.format); });

TEST(SolveCommand, SolvesInTheTerminalAndPrintsTheCalibration) {
    if (!QFile::exists("/usr/share/astrometry/index-tycho2-10.littleendian.fits"))
        GTEST_SKIP() << "Tycho-2 index files missing";
    QTemporaryDir home;
    testsupport::linkTycho2Indexes(home.filePath("data/Siderama"));
    const QString image = home.filePath("orion.png");
    const auto truth = testsupport::runSkyField({"--ra", "83.8", "--dec", "-5.4", "--width", "800", "--height",
                                                 "600", "--scale", "40", "--format", "png8", "--out", image});
    ASSERT_TRUE(truth);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.remove("SIDERAMA_TOOLS_DIR");
    program.setProcessEnvironment(environment);
    program.start(SIDERAMA_BINARY_DIR "/bin/siderama", {"--solve", image});
    ASSERT_TRUE(program.waitForFinished(300000));
    const QString output = QString::fromUtf8(program.readAllStandardOutput());
    EXPECT_EQ(program.exitCode(), 0) << qPrintable(output);
    EXPECT_TRUE(output.contains("\nimage2xy -O -o ")) << "the log is streamed";
    EXPECT_TRUE(output.contains("Done in "));
    const QStringList last = output.trimmed().split('\n').last().split(QRegularExpression("\\s+"));
    ASSERT_GE(last.size(), 6) << qPrintable(output);
    EXPECT_EQ(last[1], "solved");
    EXPECT_NEAR(last[3].toDouble(), 83.8, 0.05);
    EXPECT_NEAR(last[5].toDouble(), -5.4, 0.05);
    EXPECT_TRUE(QFile::exists(home.filePath("orion_wcs.fits")));
}

}  // namespace
