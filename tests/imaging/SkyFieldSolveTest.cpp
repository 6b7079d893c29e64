// End to end through the real plate-solving tools: star fields made by
// skyfield in every input format are converted and must solve at the
// position, scale and orientation they were made with.
#include "imaging/Convert.h"
#include "imaging/ImageFormats.h"

#include "imaging/ImagingTestSupport.h"
#include "skyfield/SkyField.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QtPlugin>

#include <gtest/gtest.h>

#include <cmath>

Q_IMPORT_PLUGIN(RawImagePlugin)

namespace {

struct Solution {
    double ra, dec, pixelScale, orientationCentre;
    int width, height;
};

QByteArray runTool(const QString& dir, const QString& tool, const QStringList& arguments) {
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(testsupport::realToolsDirectory() + "/" + tool, arguments);
    process.waitForFinished(300000);
    const QByteArray output = process.readAll();
    EXPECT_EQ(process.exitCode(), 0) << qPrintable(tool) << ":\n" << output.constData();
    return output;
}

// "key value" lines of wcsinfo.
QMap<QByteArray, double> wcsValues(const QByteArray& output) {
    QMap<QByteArray, double> values;
    for (const QByteArray& line : output.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 2) values[fields[0]] = fields[1].toDouble();
    }
    return values;
}

class SkyFieldSolve : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!QFile::exists("/usr/share/astrometry/index-tycho2-10.littleendian.fits")) {
            GTEST_SKIP() << "Tycho-2 index files missing (Debian astrometry-data-tycho2-10-19-littleendian)";
        }
        ASSERT_EQ(testsupport::linkTycho2Indexes(dir + "/indexes"), 10);
        imagingtest::writeBytes(dir + "/solver.cfg", "cpulimit 300\nadd_path " + (dir + "/indexes").toUtf8() + "\nautoindex\n");
    }

    std::optional<Solution> solve(const QString& fits) {
        runTool(dir, "image2xy", {"-O", "-o", "field.xy", fits});
        runTool(dir, "solve-field", {"--overwrite", "--no-plots", "--no-remove-lines", "--no-verify-uniformize",
                                     "--sort-column", "FLUX", "--uniformize", "0", "--config", "solver.cfg",
                                     "field.xy"});
        if (!QFile::exists(dir + "/field.solved") || !QFile::exists(dir + "/field.wcs")) return std::nullopt;
        const auto v = wcsValues(runTool(dir, "wcsinfo", {"field.wcs"}));
        return Solution{v["ra_center"], v["dec_center"], v["pixscale"], v["orientation_center"],
                        int(v["imagew"]), int(v["imageh"])};
    }

    QString dir = imagingtest::scratchDirectory();
};

// Difference of two angles in degrees, in (-180, 180].
double angleDifference(double a, double b) {
    const double d = std::fmod(a - b, 360.0);
    return d > 180 ? d - 360 : (d <= -180 ? d + 360 : d);
}

TEST_P(SkyFieldSolve, ConvertedFieldSolvesAtItsTruePosition) {
    const QString format = GetParam();
    const QString image = dir + (format.startsWith("raw") ? "/field.dat" : "/field." + format);
    const auto truth = testsupport::runSkyField({"--ra", "83.8", "--dec", "-5.4", "--width", "900", "--height",
                                                 "700", "--scale", "36", "--rotation", "30", "--format", format,
                                                 "--out", image});
    ASSERT_TRUE(truth) << "skyfield failed";
    const QString fits = dir + "/field.fits";
    if (!siderama::isFitsPath(image)) {
        ASSERT_TRUE(siderama::Convert(image, fits));
    }
    const auto solution = solve(fits);
    ASSERT_TRUE(solution) << "the field did not solve";
    const double offPixels =
        testsupport::angularSeparation(truth->ra, truth->dec, solution->ra, solution->dec) * 3600 / truth->scale;
    EXPECT_LT(offPixels, 2.0);
    EXPECT_NEAR(solution->pixelScale, truth->scale, truth->scale * 0.005);
    // The top row is FITS row 1, so the solution has negative parity, and
    // wcsinfo's orientation at the centre is 180 degrees minus the rotation.
    EXPECT_NEAR(angleDifference(solution->orientationCentre, 180 - truth->rotation), 0, 0.5);
    EXPECT_EQ(solution->width, truth->width);
    EXPECT_EQ(solution->height, truth->height);
}

INSTANTIATE_TEST_SUITE_P(EveryInputFormat, SkyFieldSolve,
                         ::testing::Values("fits", "png8", "jpg", "png16", "tiff16", "tiff48", "raw1", "raw2",
                                           "raw3"));

TEST(SkyField, PrintsItsTruthAndRejectsUnknownFormats) {
    const QString dir = imagingtest::scratchDirectory();
    for (const char* rotation : {"0", "90"}) {
        const auto truth = testsupport::runSkyField({"--ra", "10", "--dec", "40", "--width", "300", "--height",
                                                     "200", "--rotation", rotation, "--out", dir + "/f.fits"});
        ASSERT_TRUE(truth);
        EXPECT_EQ(truth->rotation, QByteArray(rotation).toDouble());
        EXPECT_GT(truth->stars, 10);
    }
    EXPECT_FALSE(testsupport::runSkyField({"--ra", "10", "--dec", "40", "--format", "gif", "--out", dir + "/x"}));
}

}  // namespace
