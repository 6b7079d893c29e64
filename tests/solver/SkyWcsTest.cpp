// WCS headers from files the tools may have left empty, cut or wrong: none
// gives a WCS, none crashes; a whole header round-trips a position.
#include "solver/SkyWcs.h"
#include "support/FitsCards.h"

#include <gtest/gtest.h>

using namespace siderama;

namespace {

QByteArray tanHeader(bool withEnd, bool withSize = true) {
    QStringList cards{"CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'", "CRVAL1  = 83.82", "CRVAL2  = -5.39",
                      "CRPIX1  = 450.5",      "CRPIX2  = 350.5",      "CD1_1   = -0.01", "CD1_2   = 0.0",
                      "CD2_1   = 0.0",        "CD2_2   = 0.01"};
    if (withSize) cards << "IMAGEW  = 900" << "IMAGEH  = 700";
    return withEnd ? testsupport::fitsHeader(cards) : testsupport::fitsCards(cards);
}

TEST(SkyWcs, UnusableHeadersGiveNoWcs) {
    const QByteArray unusable[] = {"", "touched", QByteArray(80, ' '), tanHeader(false),
                                   tanHeader(false).left(200), tanHeader(true, false)};
    for (const QByteArray& header : unusable) EXPECT_FALSE(SkyWcs::fromHeader(header)) << header.left(90).constData();
}

TEST(SkyWcs, TheCentrePixelLooksAtTheReferencePoint) {
    const auto wcs = SkyWcs::fromHeader(tanHeader(true));
    ASSERT_TRUE(wcs);
    // FITS pixel 450.5 (centres on whole numbers from 1) is 450 drawn pixels in.
    const auto pixel = wcs->toPixel({83.82, -5.39});
    ASSERT_TRUE(pixel);
    EXPECT_NEAR(pixel->x(), 450, 1e-9);
    EXPECT_NEAR(pixel->y(), 350, 1e-9);
    EXPECT_NEAR(wcs->pixelScale(), 36, 1e-9);
    EXPECT_EQ(wcs->parity(), -1) << "north down with east left is the sky mirrored";
    EXPECT_FALSE(wcs->toPixel({83.82 + 180, 5.39})) << "the far side of the sky";
}

}  // namespace
