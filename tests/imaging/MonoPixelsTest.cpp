#include "imaging/MonoPixels.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using Pixels = std::vector<uint16_t>;

TEST(MonoPixels, RowsWithPaddingAreReadAtTheirStride) {
    // Two rows of three grey pixels, each row padded to eight bytes.
    const std::array<uchar, 16> bytes{1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE,
                                      4, 5, 6, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    const QImage image(bytes.data(), 3, 2, 8, QImage::Format_Grayscale8);
    EXPECT_EQ(siderama::monoPixels(image), (Pixels{1, 2, 3, 4, 5, 6}));
}

TEST(MonoPixels, PaddedColourRowsLeaveThePaddingOut) {
    const std::array<uchar, 16> bytes{1, 1, 1, 2, 2, 2, 0xEE, 0xEE,
                                      3, 3, 3, 4, 4, 4, 0xEE, 0xEE};
    const QImage image(bytes.data(), 2, 2, 8, QImage::Format_RGB888);
    EXPECT_EQ(siderama::monoPixels(image), (Pixels{3, 6, 9, 12}));
}

TEST(MonoPixels, ByteOrderedColourLayoutsSumTheirColours) {
    const std::array<uchar, 8> rgba{10, 20, 30, 255, 1, 2, 3, 0};
    EXPECT_EQ(siderama::monoPixels(QImage(rgba.data(), 2, 1, 8, QImage::Format_RGBA8888)), (Pixels{60, 6}));
    EXPECT_EQ(siderama::monoPixels(QImage(rgba.data(), 2, 1, 8, QImage::Format_RGBX8888)), (Pixels{60, 6}));
    const std::array<uchar, 6> bgr{30, 20, 10, 3, 2, 1};
    EXPECT_EQ(siderama::monoPixels(QImage(bgr.data(), 2, 1, 6, QImage::Format_BGR888)), (Pixels{60, 6}));
}

TEST(MonoPixels, SixteenBitColourDividesBy3RoundingDown) {
    QImage image(3, 1, QImage::Format_RGBA64);
    auto* row = reinterpret_cast<QRgba64*>(image.scanLine(0));
    row[0] = QRgba64::fromRgba64(65535, 65535, 65535, 0);  // the sum needs more than 16 bits
    row[1] = QRgba64::fromRgba64(1, 1, 2, 65535);
    row[2] = QRgba64::fromRgba64(2, 2, 2, 1);
    EXPECT_EQ(siderama::monoPixels(image), (Pixels{65535, 1, 2}));
}

TEST(MonoPixels, PremultipliedColourIsTakenAtFullStrength) {
    QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
    image.setPixel(0, 0, qPremultiply(qRgba(100, 50, 30, 255)));
    EXPECT_EQ(siderama::monoPixels(image), (Pixels{180}));
}

TEST(MonoPixels, LayoutsWithoutEightOrSixteenBitChannelsGiveNone) {
    QImage rgb565(2, 2, QImage::Format_RGB16);
    rgb565.fill(Qt::white);
    EXPECT_FALSE(siderama::monoPixels(rgb565));
    QImage alpha(2, 2, QImage::Format_Alpha8);
    alpha.fill(0);
    EXPECT_FALSE(siderama::monoPixels(alpha));
    EXPECT_FALSE(siderama::monoPixels(QImage()));
}

TEST(MonoPixels, TopRowComesFirst) {
    QImage image(1, 2, QImage::Format_Grayscale16);
    reinterpret_cast<uint16_t*>(image.scanLine(0))[0] = 50000;
    reinterpret_cast<uint16_t*>(image.scanLine(1))[0] = 7;
    EXPECT_EQ(siderama::monoPixels(image), (Pixels{50000, 7}));
}

}  // namespace
