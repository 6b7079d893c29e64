#include "imaging/Convert.h"

#include "imaging/FitsFile.h"
#include "imaging/ImagingTestSupport.h"

#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

using imagingtest::readFits;
using imagingtest::saveImage;

namespace {

class ConvertTest : public ::testing::Test {
protected:
    QString dir = imagingtest::scratchDirectory();
    QString fits = dir + "/out.fits";

    // Converts and reads the result back; fails the test when either fails.
    imagingtest::FitsImage convertAndRead(const QString& source) {
        EXPECT_TRUE(siderama::Convert(source, fits));
        const auto image = readFits(fits);
        EXPECT_TRUE(image.has_value());
        return image.value_or(imagingtest::FitsImage{});
    }
};

QImage grey16Image(const std::vector<uint16_t>& values) {
    QImage image(int(values.size()), 1, QImage::Format_Grayscale16);
    auto* row = reinterpret_cast<uint16_t*>(image.scanLine(0));
    std::copy(values.begin(), values.end(), row);
    return image;
}

TEST_F(ConvertTest, Grey8PngKeepsEverySampleInAnUnsigned16BitImage) {
    QImage image(3, 2, QImage::Format_Grayscale8);  // 3-byte rows are padded to 4 in memory
    const uchar values[2][3] = {{0, 17, 255}, {128, 1, 254}};
    for (int y = 0; y < 2; ++y) std::copy(values[y], values[y] + 3, image.scanLine(y));
    const auto fitsImage = convertAndRead(saveImage(image, dir + "/grey8.png", "png"));
    EXPECT_EQ(fitsImage.bitpix, 16);
    EXPECT_EQ(fitsImage.axes, (std::vector<long long>{3, 2}));
    EXPECT_EQ(fitsImage.bzero, 32768.0);
    EXPECT_EQ(fitsImage.pixels, (std::vector<uint16_t>{0, 17, 255, 128, 1, 254}));
}

TEST_F(ConvertTest, Grey16ValuesAbove32767ReadBackExactly) {
    const std::vector<uint16_t> values{0, 1, 32767, 32768, 40000, 65535};
    const auto fitsImage = convertAndRead(saveImage(grey16Image(values), dir + "/grey16.png", "png"));
    EXPECT_EQ(fitsImage.pixels, values);
}

TEST_F(ConvertTest, Grey16TiffKeepsItsValues) {
    const std::vector<uint16_t> values{65535, 12345, 50000};
    EXPECT_EQ(convertAndRead(saveImage(grey16Image(values), dir + "/grey16.tiff", "tiff")).pixels, values);
}

TEST_F(ConvertTest, EightBitColourSumsTheThreeSamplesWithoutDividing) {
    QImage image(3, 1, QImage::Format_RGB888);
    image.setPixel(0, 0, qRgb(255, 255, 255));
    image.setPixel(1, 0, qRgb(1, 2, 3));
    image.setPixel(2, 0, qRgb(200, 0, 0));
    EXPECT_EQ(convertAndRead(saveImage(image, dir + "/rgb.png", "png")).pixels,
              (std::vector<uint16_t>{765, 6, 200}));
}

TEST_F(ConvertTest, AlphaIsNotCounted) {
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(10, 20, 30, 255));
    image.setPixel(1, 0, qRgba(10, 20, 30, 128));
    EXPECT_EQ(convertAndRead(saveImage(image, dir + "/rgba.png", "png")).pixels,
              (std::vector<uint16_t>{60, 60}));
}

TEST_F(ConvertTest, SixteenBitColourAveragesTheThreeSamples) {
    QImage image(3, 1, QImage::Format_RGBX64);
    auto* row = reinterpret_cast<QRgba64*>(image.scanLine(0));
    row[0] = QRgba64::fromRgba64(65535, 65535, 65535, 65535);
    row[1] = QRgba64::fromRgba64(1, 1, 2, 65535);
    row[2] = QRgba64::fromRgba64(60000, 50000, 40001, 65535);
    EXPECT_EQ(convertAndRead(saveImage(image, dir + "/rgb48.tiff", "tiff")).pixels,
              (std::vector<uint16_t>{65535, 1, 50000}));
}

TEST_F(ConvertTest, TopRowOfTheImageIsFitsRowOne) {
    QImage image(2, 3, QImage::Format_Grayscale8);
    for (int y = 0; y < 3; ++y) image.scanLine(y)[0] = image.scanLine(y)[1] = uchar(10 * (y + 1));
    const auto fitsImage = convertAndRead(saveImage(image, dir + "/rows.png", "png"));
    EXPECT_EQ(fitsImage.at(0, 0), 10);
    EXPECT_EQ(fitsImage.at(1, 2), 30);
}

TEST_F(ConvertTest, PaletteImagesUseTheGreyOrColourRule) {
    QImage grey(2, 1, QImage::Format_Indexed8);
    grey.setColorTable({qRgb(7, 7, 7), qRgb(250, 250, 250)});
    grey.setPixel(0, 0, 1);
    grey.setPixel(1, 0, 0);
    EXPECT_EQ(convertAndRead(saveImage(grey, dir + "/grey-palette.png", "png")).pixels,
              (std::vector<uint16_t>{250, 7}));
    QImage colour = grey;
    colour.setColorTable({qRgb(7, 7, 7), qRgb(200, 10, 1)});
    EXPECT_EQ(convertAndRead(saveImage(colour, dir + "/colour-palette.png", "png")).pixels,
              (std::vector<uint16_t>{211, 21}));
}

TEST_F(ConvertTest, OneBitImagesBecomeBlackAndWhite) {
    QImage image(9, 1, QImage::Format_Mono);  // more than one byte per row
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    image.fill(0);
    image.setPixel(0, 0, 1);
    image.setPixel(8, 0, 1);
    const auto pixels = convertAndRead(saveImage(image, dir + "/mono.png", "png")).pixels;
    EXPECT_EQ(pixels, (std::vector<uint16_t>{255, 0, 0, 0, 0, 0, 0, 0, 255}));
}

TEST_F(ConvertTest, ReplacesAnExistingDestination) {
    imagingtest::writeBytes(fits, QByteArray(100000, 'x'));
    QImage image(4, 4, QImage::Format_Grayscale8);
    image.fill(9);
    const auto fitsImage = convertAndRead(saveImage(image, dir + "/small.png", "png"));
    EXPECT_EQ(fitsImage.pixels, std::vector<uint16_t>(16, 9));
    EXPECT_EQ(QFile(fits).size(), 2 * 2880);  // one header block, one data block
}

TEST_F(ConvertTest, MissingSourceLogsOneLineAndFails) {
    ::testing::internal::CaptureStderr();
    const bool converted = siderama::Convert(dir + "/missing.png", fits);
    const QString log = QString::fromLocal8Bit(::testing::internal::GetCapturedStderr());
    EXPECT_FALSE(converted);
    EXPECT_FALSE(QFile::exists(fits));
    EXPECT_EQ(log.count('\n'), 1) << qPrintable(log);
    EXPECT_TRUE(log.contains("missing.png")) << qPrintable(log);
}

TEST_F(ConvertTest, DestinationInAMissingDirectoryFails) {
    QImage image(2, 2, QImage::Format_Grayscale8);
    image.fill(1);
    const QString destination = dir + "/no/such/dir/out.fits";
    EXPECT_FALSE(siderama::Convert(saveImage(image, dir + "/a.png", "png"), destination));
    EXPECT_FALSE(QFile::exists(destination));
}

TEST_F(ConvertTest, UndecodableDataFailsAndLeavesTheDestinationAlone) {
    const QString junk = imagingtest::writeBytes(dir + "/junk.png", QByteArray("not an image at all", 19));
    EXPECT_FALSE(siderama::Convert(junk, fits));
    EXPECT_FALSE(QFile::exists(fits));
    imagingtest::writeBytes(fits, "previous result");
    EXPECT_FALSE(siderama::Convert(junk, fits));
    QFile previous(fits);
    ASSERT_TRUE(previous.open(QIODevice::ReadOnly));
    EXPECT_EQ(previous.readAll(), "previous result");
}

TEST_F(ConvertTest, EmptySourceFails) {
    EXPECT_FALSE(siderama::Convert(imagingtest::writeBytes(dir + "/empty.jpg", {}), fits));
    EXPECT_FALSE(QFile::exists(fits));
}

TEST_F(ConvertTest, RawFramesConvertWhateverTheirFileName) {
    const QByteArray pixels("\x34\x12\xFF\xFF\x00\x80", 6);  // 0x1234, 65535, 32768
    for (const QString name : {"frame.dat", "frame.bin", "frame", "frame.png", "frame.raw"}) {
        const QString source = imagingtest::writeBytes(dir + "/" + name, imagingtest::rawFrame("RAW2", 3, 1, pixels));
        EXPECT_EQ(convertAndRead(source).pixels, (std::vector<uint16_t>{0x1234, 65535, 32768})) << qPrintable(name);
    }
}

TEST_F(ConvertTest, RgbRawFrameUsesTheColourRule) {
    const QString source = imagingtest::writeBytes(
        dir + "/colour.dat", imagingtest::rawFrame("RAW3", 2, 1, QByteArray("\xFF\xFF\xFF\x01\x02\x03", 6)));
    EXPECT_EQ(convertAndRead(source).pixels, (std::vector<uint16_t>{765, 6}));
}

TEST_F(ConvertTest, TruncatedRawFrameFails) {
    const QString source = imagingtest::writeBytes(dir + "/short.dat", imagingtest::rawFrame("RAW1", 4, 2, "1234567"));
    EXPECT_FALSE(siderama::Convert(source, fits));
    EXPECT_FALSE(QFile::exists(fits));
}

}  // namespace
