#include "imaging/ImageFormats.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

namespace {

using siderama::imageExtensionForData;
using siderama::isFitsPath;

TEST(IsFitsPath, KnowsTheThreeExtensionsInAnyCase) {
    for (const char* path : {"a.fits", "A.FITS", "b.Fit", "c.FTS", "/data/night 1/m31.fts", "x.y.FiTs"}) {
        EXPECT_TRUE(isFitsPath(path)) << path;
    }
    for (const char* path : {"a.png", "a.fits.gz", "fits", "a.fitsx", "a.fit/", "", "dir.fits/image.jpg"}) {
        EXPECT_FALSE(isFitsPath(path)) << path;
    }
}

QByteArray encoded(const char* format) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return buffer.data();
}

TEST(ImageExtensionForData, RecognisesTheImageFormatsByTheirLeadingBytes) {
    EXPECT_EQ(imageExtensionForData("SIMPLE  =                    T"), "fits");
    EXPECT_EQ(imageExtensionForData(encoded("jpeg")), "jpg");
    EXPECT_EQ(imageExtensionForData(encoded("png")), "png");
    EXPECT_EQ(imageExtensionForData(encoded("tiff")), "tiff");
    EXPECT_EQ(imageExtensionForData(QByteArray("II*\0", 4)), "tiff");
    EXPECT_EQ(imageExtensionForData(QByteArray("MM\0*", 4)), "tiff");
    for (const char* tag : {"RAW1", "RAW2", "RAW3"}) {
        EXPECT_EQ(imageExtensionForData(QByteArray(tag) + QByteArray(8, '\0')), "raw") << tag;
    }
}

TEST(ImageExtensionForData, AnythingElseIsUnknown) {
    for (const QByteArray& data : {QByteArray(), QByteArray("RAW4"), QByteArray("RAW"), QByteArray("SIMPLE ="),
                                   QByteArray("\x89PNG", 4), QByteArray("II*"), QByteArray("GIF89a"),
                                   QByteArray("MM*\0", 4)}) {
        EXPECT_EQ(imageExtensionForData(data), "") << data.toHex().constData();
    }
}

}  // namespace
