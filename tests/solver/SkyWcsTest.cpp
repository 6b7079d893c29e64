// WCS headers from files the tools may have left empty, cut or wrong: none
// gives a WCS, none crashes; a whole header round-trips a position.
#include "solver/SkyWcs.h"

#include <gtest/gtest.h>

using namespace siderama;

namespace {

QByteArray card(const QByteArray& text) { return text.leftJustified(80, ' '); }

QByteArray tanHeader(bool withEnd, bool withSize = true) {
    QByteArray header = card("SIMPLE  =                    T") + card("CTYPE1  = 'RA---TAN'") +
                        card("CTYPE2  = 'DEC--TAN'") + card("CRVAL1  =                83.82") +
                        card("CRVAL2  =                -5.39") + card("CRPIX1  =                450.5") +
                        card("CRPIX2  =                350.5") + card("CD1_1   =                -0.01") +
                        card("CD1_2   =                  0.0") + card("CD2_1   =                  0.0") +
                        card("CD2_2   =                 0.01");
    if (withSize) header += card("IMAGEW  =                  900") + card("IMAGEH  =                  700");
    if (withEnd) header += card("END");
    return header;
}

TEST(SkyWcs, UnusableHeadersGiveNoWcs) {
    const QByteArray unusable[] = {"", "touched", QByteArray(80, ' '), tanHeader(false),
                                   tanHeader(false).left(200), tanHeader(true, false)};
    for (const QByteArray& header : unusable) EXPECT_FALSE(SkyWcs::fromHeader(header)) << header.left(90).constData();
}

TEST(SkyWcs, TheCentrePixelLooksAtTheReferencePoint) {
    const auto wcs = SkyWcs::fromHeader(tanHeader(true) + QByteArray(2880, ' '));
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
