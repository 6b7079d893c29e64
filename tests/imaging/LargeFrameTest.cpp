// Frames beyond Qt's default decode limit and beyond 2^31 pixels. They need
// several gigabytes, so they skip on small machines.
#include "imaging/Convert.h"
#include "imaging/FitsWriter.h"
#include "imaging/ImagingSupport.h"

#include <QFile>
#include <QStorageInfo>
#include <QtPlugin>

#include <gtest/gtest.h>
#include <unistd.h>

Q_IMPORT_PLUGIN(RawImagePlugin)

namespace {

constexpr qint64 GiB = 1LL << 30;

bool roomFor(qint64 memory, qint64 disk, const QString& dir) {
    return qint64(sysconf(_SC_AVPHYS_PAGES)) * sysconf(_SC_PAGESIZE) > memory &&
           QStorageInfo(dir).bytesAvailable() > disk;
}

TEST(LargeFrames, RawFrameAboveQtsDefaultDecodeLimitConverts) {
    const QString dir = imagingtest::scratchDirectory();
    if (!roomFor(3 * GiB, 2 * GiB, dir)) GTEST_SKIP() << "needs 3 GiB of memory and 2 GiB of disk";
    constexpr int width = 20000, height = 15000;  // 300 MB of 8-bit pixels
    QByteArray pixels(qsizetype(width) * height, '\x07');
    pixels[pixels.size() - 1] = '\xFE';
    const QString source = imagingtest::writeBytes(dir + "/big.dat", imagingtest::rawFrame("RAW1", width, height, pixels));
    pixels.clear();
    ASSERT_TRUE(siderama::Convert(source, dir + "/big.fits"));
    EXPECT_EQ(imagingtest::fitsPixel(dir + "/big.fits", 0, 0), 7);
    EXPECT_EQ(imagingtest::fitsPixel(dir + "/big.fits", width - 1, height - 1), 254);
}

TEST(LargeFrames, MoreThanTwoGigapixelsAreWrittenCompletely) {
    const QString dir = imagingtest::scratchDirectory();
    if (!roomFor(6 * GiB, 5 * GiB, dir)) GTEST_SKIP() << "needs 6 GiB of memory and 5 GiB of disk";
    constexpr long long width = 65536, height = 32769;  // 2^31 + 2^16 pixels
    std::vector<uint16_t> pixels(size_t(width * height), 3);
    pixels.back() = 65535;
    const QString path = dir + "/huge.fits";
    ASSERT_TRUE(siderama::writeFits(path, width, height, pixels));
    pixels = {};
    EXPECT_EQ(QFile(path).size(), 2880 + (width * height * 2 + 2879) / 2880 * 2880);
    EXPECT_EQ(imagingtest::fitsPixel(path, 0, 0), 3);
    EXPECT_EQ(imagingtest::fitsPixel(path, width - 1, height - 1), 65535);
    QFile::remove(path);
}

}  // namespace
