// The calibration of a WCS against what the real wcsinfo prints for it: a
// table of positive and negative parity, rotations, FITS and JPEG images.
#include "remote/api/Calibration.h"
#include "support/FitsCards.h"
#include "support/TestSupport.h"
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cmath>

using siderama::Calibration;

namespace {
struct Field {
    const char* name;
    double parity;        // the sign of det CD
    double angle;         // degrees
    bool topRowFirst;     // a JPEG, PNG, ... image
    double orientation;   // expected
};

const Field fields[] = {
    {"negative parity FITS", -1, 30, false, 30},
    {"positive parity FITS", 1, 20, false, 20},
    {"negative parity JPEG", -1, 30, true, 150},
    {"positive parity JPEG", 1, 20, true, 160},
    {"JPEG near north", -1, 179, true, 1},
};

constexpr double scale = 40.0 / 3600, width = 800, height = 600;

// A FITS header of a TAN WCS centred on RA 10, Dec 41.2 at 40"/px whose CD
// matrix has the row's parity and rotation.
QByteArray wcsHeader(const Field& field) {
    const double c = std::cos(field.angle * M_PI / 180) * scale, s = std::sin(field.angle * M_PI / 180) * scale;
    const double cd[4] = {field.parity < 0 ? -c : c, s, field.parity < 0 ? s : -s, c};
    using testsupport::fitsCard;
    QStringList cards{fitsCard("BITPIX", "8"), fitsCard("NAXIS", "0"), fitsCard("CTYPE1", "'RA---TAN'"),
                      fitsCard("CTYPE2", "'DEC--TAN'"), fitsCard("CRVAL1", "10.0"), fitsCard("CRVAL2", "41.2"),
                      fitsCard("CRPIX1", "400.5"), fitsCard("CRPIX2", "300.5"), fitsCard("IMAGEW", "800"),
                      fitsCard("IMAGEH", "600")};
    const char* keys[4] = {"CD1_1", "CD1_2", "CD2_1", "CD2_2"};
    for (int i = 0; i < 4; ++i) cards << fitsCard(keys[i], QString::number(cd[i], 'E', 12));
    return testsupport::fitsHeader(cards);
}

class CalibrationVsWcsinfo : public ::testing::TestWithParam<Field> {};

TEST_P(CalibrationVsWcsinfo, MatchesThePublicServiceNumbers) {
    const Field& field = GetParam();
    QTemporaryDir scratch;
    QFile wcs(scratch.filePath("job.wcs"));
    ASSERT_TRUE(wcs.open(QIODevice::WriteOnly) && wcs.write(wcsHeader(field)) == 2880);
    wcs.close();
    QProcess wcsinfo;
    wcsinfo.start(testsupport::realToolsDirectory() + "/wcsinfo", {wcs.fileName()});
    ASSERT_TRUE(wcsinfo.waitForFinished(30000));
    const auto calibration = Calibration::fromWcsinfo(QString::fromUtf8(wcsinfo.readAllStandardOutput()),
                                                      field.topRowFirst);
    ASSERT_TRUE(calibration);
    EXPECT_NEAR(calibration->ra, 10, 1e-9);
    EXPECT_NEAR(calibration->dec, 41.2, 1e-9);
    EXPECT_NEAR(calibration->pixscale, 40, 1e-6);
    EXPECT_EQ(calibration->parity, field.parity);
    EXPECT_NEAR(calibration->orientation, field.orientation, 1e-6);
    EXPECT_NEAR(calibration->radius, 40 * std::hypot(width, height) / 2 / 3600, 1e-6);
    EXPECT_NEAR(calibration->widthArcsec, 40 * width, 1e-3);
    EXPECT_NEAR(calibration->heightArcsec, 40 * height, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Fields, CalibrationVsWcsinfo, ::testing::ValuesIn(fields));

TEST(Calibration, MissingValuesGiveNone) { EXPECT_FALSE(Calibration::fromWcsinfo("ra_center 10\ndec_center 41\n", false)); }
}  // namespace
