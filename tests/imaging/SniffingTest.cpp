// Image formats recognised by file name (FITS) and by leading bytes (uploads).
#include "imaging/ImageFormats.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

namespace {

QByteArray encoded(const char* format) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return buffer.data();
}

TEST(Sniffing, FitsNames) {
    for (const char* path : {"a.fits", "A.FITS", "b.Fit", "c.FTS", "/data/night 1/m31.fts", "x.y.FiTs"})
        EXPECT_TRUE(siderama::isFitsPath(path)) << path;
    for (const char* path : {"a.png", "a.fits.gz", "fits", "a.fitsx", "a.fit/", "", "dir.fits/image.jpg"})
        EXPECT_FALSE(siderama::isFitsPath(path)) << path;
}

TEST(Sniffing, LeadingBytes) {
    const std::vector<std::pair<QByteArray, QString>> cases{
        {"SIMPLE  =                    T", "fits"}, {encoded("jpeg"), "jpg"}, {encoded("png"), "png"},
        {encoded("tiff"), "tiff"}, {QByteArray("II*\0", 4), "tiff"}, {QByteArray("MM\0*", 4), "tiff"},
        {QByteArray("RAW1") + QByteArray(8, '\0'), "raw"}, {QByteArray("RAW2") + QByteArray(8, '\0'), "raw"},
        {QByteArray("RAW3") + QByteArray(8, '\0'), "raw"}, {"", ""}, {"RAW4", ""}, {"RAW", ""}, {"SIMPLE =", ""},
        {QByteArray("\x89PNG", 4), ""}, {"II*", ""}, {"GIF89a", ""}, {QByteArray("MM*\0", 4), ""},
    };
    for (const auto& [data, extension] : cases)
        EXPECT_EQ(siderama::imageExtensionForData(data), extension) << data.toHex().constData();
}

}  // namespace
