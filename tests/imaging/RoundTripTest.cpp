// Images written in every input format, converted to FITS and read back:
// 16-bit unsigned pixels (BZERO 32768), top row first, whatever the name.
#include "imaging/Convert.h"
#include "imaging/FitsWriter.h"
#include "imaging/ImagingSupport.h"
#include "imaging/RawImageHandler.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QtPlugin>

#include <gtest/gtest.h>

Q_IMPORT_PLUGIN(RawImagePlugin)

namespace {

using imagingtest::rawFrame;
using imagingtest::readFits;
using Pixels = std::vector<uint16_t>;

QImage grey16(int width, int height, const Pixels& values) {
    QImage image(width, height, QImage::Format_Grayscale16);
    for (int y = 0; y < height; ++y)
        std::copy_n(values.begin() + y * width, width, reinterpret_cast<uint16_t*>(image.scanLine(y)));
    return image;
}

QImage rows(QImage::Format format, int width, const QList<QRgb>& colours) {
    QImage image(width, int(colours.size()) / width, format);
    for (int i = 0; i < colours.size(); ++i) image.setPixel(i % width, i / width, colours[i]);
    return image;
}

QImage rgb48() {
    QImage image(3, 1, QImage::Format_RGBX64);
    auto* row = reinterpret_cast<QRgba64*>(image.scanLine(0));
    row[0] = QRgba64::fromRgba64(65535, 65535, 65535, 65535);
    row[1] = QRgba64::fromRgba64(1, 1, 2, 65535);
    row[2] = QRgba64::fromRgba64(60000, 50000, 40001, 65535);
    return image;
}

QByteArray encoded(const QImage& image, const char* format) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(QImageWriter(&buffer, format).write(image)) << format;
    return buffer.data();
}

struct Case {
    QString name;  // file name, whose extension need not match the data
    QByteArray data;
    qint64 width;
    Pixels pixels;
};

TEST(RoundTrip, EveryFormatConvertsToUnsigned16BitFits) {
    const QImage grey8 = QImage(reinterpret_cast<const uchar*>("\0\x11\xFF\xEE\x80\x01\xFE\xEE"), 3, 2, 4,
                                QImage::Format_Grayscale8);
    const QByteArray le16("\x34\x12\xFF\xFF\x00\x80", 6);  // 0x1234, 65535, 32768
    const QList<QRgb> colours{qRgb(255, 255, 255), qRgb(1, 2, 3), qRgb(200, 0, 0)};
    const std::vector<Case> cases{
        {"grey8.png", encoded(grey8, "png"), 3, {0, 17, 255, 128, 1, 254}},
        {"grey16.png", encoded(grey16(3, 2, {0, 1, 32767, 32768, 40000, 65535}), "png"), 3, {0, 1, 32767, 32768, 40000, 65535}},
        {"grey16.tiff", encoded(grey16(3, 1, {65535, 12345, 50000}), "tiff"), 3, {65535, 12345, 50000}},
        {"rgb.png", encoded(rows(QImage::Format_RGB888, 3, colours), "png"), 3, {765, 6, 200}},
        {"rgba.png", encoded(rows(QImage::Format_ARGB32, 2, {qRgba(10, 20, 30, 255), qRgba(10, 20, 30, 128)}), "png"), 2, {60, 60}},
        {"rgb48.tiff", encoded(rgb48(), "tiff"), 3, {65535, 1, 50000}},
        {"frame.dat", rawFrame("RAW2", 3, 1, le16), 3, {0x1234, 65535, 32768}},
        {"frame.bin", rawFrame("RAW2", 3, 1, le16), 3, {0x1234, 65535, 32768}},
        {"frame", rawFrame("RAW1", 2, 2, "\x07\x08\x09\xFE"), 2, {7, 8, 9, 254}},
        {"frame.png", rawFrame("RAW3", 2, 1, QByteArray("\xFF\xFF\xFF\x01\x02\x03", 6)), 2, {765, 6}},
        {"written.raw", encoded(grey16(2, 1, {0x1234, 0xFFFE}), "raw"), 2, {0x1234, 0xFFFE}},
        {"colour.raw", encoded(rows(QImage::Format_ARGB32, 3, colours), "raw"), 3, {765, 6, 200}},
    };
    const QString dir = imagingtest::scratchDirectory();
    const QString fits = dir + "/out.fits";
    for (const auto& [name, data, width, pixels] : cases) {
        imagingtest::writeBytes(fits, QByteArray(100000, 'x'));  // an earlier file is replaced
        ASSERT_TRUE(siderama::Convert(imagingtest::writeBytes(dir + "/" + name, data), fits)) << qPrintable(name);
        const auto image = readFits(fits);
        ASSERT_TRUE(image) << qPrintable(name);
        EXPECT_EQ(image->bitpix, 16);
        EXPECT_EQ(image->bzero, 32768.0);
        EXPECT_EQ(image->axes, (std::vector<long long>{width, qint64(pixels.size()) / width})) << qPrintable(name);
        EXPECT_EQ(image->pixels, pixels) << qPrintable(name);
        EXPECT_EQ(QFile(fits).size(), 2880 + (qint64(pixels.size()) * 2 + 2879) / 2880 * 2880) << qPrintable(name);
    }
}

// CFITSIO's own name syntax would read these as "clobber", a filter, a
// template, a compressed file and standard output.
TEST(RoundTrip, FitsWriterKeepsTheWholeRangeAndTakesNamesLiterally) {
    const QString dir = imagingtest::scratchDirectory();
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir));
    const Pixels range{0, 1, 32767, 32768, 65534, 65535};
    for (const QString name : {"range.fits", "!bang.fits", "cut[1:2,1:2].fits", "tpl(x).fits", "packed.fits.gz", "-"}) {
        EXPECT_TRUE(siderama::writeFits(name, 3, 2, range)) << qPrintable(name);
        const auto image = readFits(dir + "/" + name);
        ASSERT_TRUE(image) << qPrintable(name);
        EXPECT_EQ(image->pixels, range);
    }
    QDir::setCurrent(previous);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 6) << qPrintable(QDir(dir).entryList().join(' '));
}

TEST(RoundTrip, RawFramePluginReadsWhatItWrites) {
    EXPECT_TRUE(QImageReader::supportedImageFormats().contains("raw"));
    QImage grey8(3, 3, QImage::Format_Grayscale8);
    grey8.fill(200);
    for (const QImage& image : {grey16(2, 1, {0x1234, 0xFFFE}), rows(QImage::Format_RGB32, 2, {qRgb(255, 0, 0), qRgb(1, 2, 3)}), grey8}) {
        QBuffer buffer;
        buffer.setData(encoded(image, "raw"));
        buffer.open(QIODevice::ReadOnly);
        const QImage back = QImageReader(&buffer).read();
        EXPECT_EQ(back, image.convertToFormat(back.format()));
    }
    EXPECT_EQ(encoded(grey16(2, 1, {0x1234, 0xFFFE}), "raw"), rawFrame("RAW2", 2, 1, QByteArray("\x34\x12\xFE\xFF", 4)));
    for (const auto& [data, claimed] : std::vector<std::pair<QByteArray, bool>>{
             {"RAW4", true}, {rawFrame("RAW1", 1, 1, "x"), true}, {"RA", false}, {"XRAW1", false}, {"", false}}) {
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        EXPECT_EQ(siderama::RawImageHandler::canRead(&buffer), claimed) << data.constData();
    }
}

}  // namespace
