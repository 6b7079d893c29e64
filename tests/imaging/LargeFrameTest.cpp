// Frames beyond the sizes that 32-bit counts and Qt's default decode limit
// allow. They need several gigabytes, so they skip on small machines.
#include "imaging/Convert.h"
#include "imaging/FitsWriter.h"

#include "imaging/FitsFile.h"
#include "imaging/ImagingTestSupport.h"

#include <QFile>
#include <QStorageInfo>
#include <QtPlugin>

#include <gtest/gtest.h>

#include <fitsio.h>
#include <unistd.h>

Q_IMPORT_PLUGIN(RawImagePlugin)

namespace {

qint64 availableMemory() { return qint64(sysconf(_SC_AVPHYS_PAGES)) * sysconf(_SC_PAGESIZE); }

bool roomFor(qint64 memory, qint64 disk, const QString& dir) {
    return availableMemory() > memory && QStorageInfo(dir).bytesAvailable() > disk;
}

constexpr qint64 GiB = 1LL << 30;

// One pixel of a FITS image, read without loading the rest.
uint16_t pixelAt(const QString& path, long long x, long long y) {
    int status = 0;
    fitsfile* file = nullptr;
    fits_open_diskfile(&file, QFile::encodeName(path).constData(), READONLY, &status);
    LONGLONG first[2] = {x + 1, y + 1};
    uint16_t value = 0;
    fits_read_pixll(file, TUSHORT, first, 1, nullptr, &value, nullptr, &status);
    fits_close_file(file, &status);
    EXPECT_EQ(status, 0);
    return value;
}

TEST(LargeFrames, RawFrameAboveQtsDefaultDecodeLimitConverts) {
    const QString dir = imagingtest::scratchDirectory();
    if (!roomFor(3 * GiB, 2 * GiB, dir)) GTEST_SKIP() << "needs 3 GiB of memory and 2 GiB of disk";
    constexpr int width = 20000, height = 15000;  // 300 MB of 8-bit pixels
    QByteArray pixels(qsizetype(width) * height, '\x07');
    pixels[pixels.size() - 1] = '\xFE';
    const QString source = imagingtest::writeBytes(dir + "/big.dat", imagingtest::rawFrame("RAW1", width, height, pixels));
    pixels.clear();
    ASSERT_TRUE(siderama::Convert(source, dir + "/big.fits", qint64(width) * height));
    EXPECT_EQ(pixelAt(dir + "/big.fits", 0, 0), 7);
    EXPECT_EQ(pixelAt(dir + "/big.fits", width - 1, height - 1), 254);
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
    EXPECT_EQ(pixelAt(path, 0, 0), 3);
    EXPECT_EQ(pixelAt(path, width - 1, height - 1), 65535);
    QFile::remove(path);
}

}  // namespace
