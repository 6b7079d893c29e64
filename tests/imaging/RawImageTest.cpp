#include "imaging/RawFrame.h"
#include "imaging/RawImageHandler.h"

#include "imaging/ImagingTestSupport.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPluginLoader>
#include <QtPlugin>

#include <gtest/gtest.h>

Q_IMPORT_PLUGIN(RawImagePlugin)

namespace {

using imagingtest::rawFrame;

QImage decode(const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer).read();
}

TEST(RawImagePlugin, IsRegisteredOnce) {
    int found = 0;
    for (const QStaticPlugin& plugin : QPluginLoader::staticPlugins()) {
        found += plugin.metaData().value("className").toString() == "RawImagePlugin";
    }
    EXPECT_EQ(found, 1);
    EXPECT_TRUE(QImageReader::supportedImageFormats().contains("raw"));
    EXPECT_TRUE(QImageWriter::supportedImageFormats().contains("raw"));
}

TEST(RawImagePlugin, EightBitMonoFrameKeepsItsBytes) {
    const QByteArray pixels("\x00\x01\x02\x03\x80\x81\xFE\xFF", 8);
    const QImage image = decode(rawFrame("RAW1", 4, 2, pixels));
    ASSERT_EQ(image.size(), QSize(4, 2));
    EXPECT_EQ(image.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(image.constScanLine(0)), 4), pixels.left(4));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(image.constScanLine(1)), 4), pixels.mid(4));
}

TEST(RawImagePlugin, SixteenBitSamplesAreLittleEndian) {
    const QImage image = decode(rawFrame("RAW2", 3, 1, QByteArray("\x34\x12\xFF\xFF\x01\x00", 6)));
    ASSERT_EQ(image.format(), QImage::Format_Grayscale16);
    const auto* row = reinterpret_cast<const uint16_t*>(image.constScanLine(0));
    EXPECT_EQ(row[0], 0x1234);
    EXPECT_EQ(row[1], 0xFFFF);
    EXPECT_EQ(row[2], 1);
}

TEST(RawImagePlugin, RgbFrameIsRedGreenBlue) {
    const QImage image = decode(rawFrame("RAW3", 2, 1, QByteArray("\xFF\x00\x00\x01\x02\x03", 6)));
    ASSERT_EQ(image.format(), QImage::Format_RGB888);
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(1, 0), qRgb(1, 2, 3));
}

TEST(RawImagePlugin, RecognisesTheRawPrefixOnly) {
    auto claims = [](const QByteArray& data) {
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        return siderama::RawImageHandler::canRead(&buffer);
    };
    EXPECT_TRUE(claims("RAW4"));
    EXPECT_TRUE(claims(rawFrame("RAW1", 1, 1, "x")));
    EXPECT_FALSE(claims("RA"));
    EXPECT_FALSE(claims("XRAW1"));
    EXPECT_FALSE(claims(""));
}

TEST(RawImagePlugin, UnknownTagGivesNoImage) {
    EXPECT_TRUE(decode(rawFrame("RAW4", 1, 1, "x")).isNull());
}

TEST(RawImagePlugin, FramesShorterThanTheirHeaderAnnouncesAreRejected) {
    EXPECT_TRUE(decode(rawFrame("RAW1", 4, 2, "1234567")).isNull());
    EXPECT_TRUE(decode(rawFrame("RAW2", 2, 2, "1234567")).isNull());
    EXPECT_TRUE(decode(rawFrame("RAW3", 1, 1, "12")).isNull());
    EXPECT_TRUE(decode(QByteArray("RAW1\x04\x00\x00\x00\x02", 9)).isNull());  // header cut short
}

TEST(RawImagePlugin, ZeroOrAbsurdDimensionsAreRejected) {
    EXPECT_TRUE(decode(rawFrame("RAW1", 0, 1, "x")).isNull());
    EXPECT_TRUE(decode(rawFrame("RAW1", 1, 0, "x")).isNull());
    // 65536 x 65536 pixels would be 4 GiB; the 32-bit byte count is 0.
    EXPECT_TRUE(decode(rawFrame("RAW1", 0x10000, 0x10000, "abcd")).isNull());
    EXPECT_TRUE(decode(rawFrame("RAW3", 0xFFFFFFFF, 0xFFFFFFFF, "abcd")).isNull());
}

TEST(RawFrame, ByteCountsDoNotOverflow) {
    const siderama::RawFrame huge{siderama::RawFrame::Type::rgb24, 0x7FFFFFFF, 0x7FFFFFFF};
    EXPECT_FALSE(huge.pixelBytes().has_value());
    const siderama::RawFrame large{siderama::RawFrame::Type::mono16, 0x10000, 0x10000};
    EXPECT_EQ(large.pixelBytes(), 2LL << 32);
    EXPECT_FALSE(siderama::RawFrame::parseHeader(rawFrame("RAW1", 0x80000000u, 1, {})));
}

TEST(RawImagePlugin, FilesDecodeWhateverTheirExtension) {
    const QString dir = imagingtest::scratchDirectory();
    for (const QString name : {"frame.dat", "frame.bin", "frame", "frame.raw"}) {
        const QString path = imagingtest::writeBytes(dir + "/" + name, rawFrame("RAW1", 2, 1, "\x05\x06"));
        QImageReader reader(path);
        const QImage image = reader.read();
        ASSERT_FALSE(image.isNull()) << qPrintable(name) << ": " << qPrintable(reader.errorString());
        EXPECT_EQ(qGray(image.pixel(1, 0)), 6);
    }
}

TEST(RawImagePlugin, WrittenFramesReadBack) {
    QImage grey16(2, 1, QImage::Format_Grayscale16);
    reinterpret_cast<uint16_t*>(grey16.scanLine(0))[0] = 0x1234;
    reinterpret_cast<uint16_t*>(grey16.scanLine(0))[1] = 0xFFFE;
    QImage colour(3, 2, QImage::Format_ARGB32);
    colour.fill(qRgb(1, 2, 3));
    QImage grey8(3, 3, QImage::Format_Grayscale8);
    grey8.fill(200);
    for (const QImage& image : {grey16, colour, grey8}) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(QImageWriter(&buffer, "raw").write(image));
        const QImage back = decode(buffer.data());
        EXPECT_EQ(back, image.convertToFormat(back.format()));
        EXPECT_NE(back.format(), QImage::Format_ARGB32);
    }
    EXPECT_EQ(siderama::encodeRawFrame(grey16), rawFrame("RAW2", 2, 1, QByteArray("\x34\x12\xFE\xFF", 4)));
}

}  // namespace
