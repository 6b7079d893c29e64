#include "imaging/FitsWriter.h"

#include "imaging/FitsFile.h"
#include "imaging/ImagingTestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

using Pixels = std::vector<uint16_t>;

class FitsWriterTest : public ::testing::Test {
protected:
    QString dir = imagingtest::scratchDirectory();
};

TEST_F(FitsWriterTest, TheWholeUnsignedRangeRoundTrips) {
    const Pixels pixels{0, 1, 32767, 32768, 65534, 65535};
    ASSERT_TRUE(siderama::writeFits(dir + "/range.fits", 3, 2, pixels));
    const auto image = imagingtest::readFits(dir + "/range.fits");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bitpix, 16);
    EXPECT_EQ(image->bzero, 32768.0);
    EXPECT_EQ(image->axes, (std::vector<long long>{3, 2}));
    EXPECT_EQ(image->pixels, pixels);
}

// CFITSIO's own name syntax would read these as "clobber", a filter, a
// template, a compressed file and standard output.
TEST_F(FitsWriterTest, FileNamesAreTakenLiterally) {
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir));
    for (const QString name : {"!bang.fits", "cut[1:2,1:2].fits", "tpl(x).fits", "packed.fits.gz", "-"}) {
        EXPECT_TRUE(siderama::writeFits(name, 1, 1, Pixels{42})) << qPrintable(name);
        const auto image = imagingtest::readFits(dir + "/" + name);
        ASSERT_TRUE(image) << qPrintable(name);
        EXPECT_EQ(image->pixels, Pixels{42});
    }
    QDir::setCurrent(previous);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 5) << qPrintable(QDir(dir).entryList().join(' '));
}

TEST_F(FitsWriterTest, AnExistingFileIsReplaced) {
    const QString path = imagingtest::writeBytes(dir + "/old.fits", QByteArray(50000, 'x'));
    ASSERT_TRUE(siderama::writeFits(path, 2, 1, Pixels{5, 6}));
    EXPECT_EQ(imagingtest::readFits(path)->pixels, (Pixels{5, 6}));
    EXPECT_EQ(QFile(path).size(), 2 * 2880);
}

TEST_F(FitsWriterTest, ADirectoryInTheWayFails) {
    QDir().mkpath(dir + "/taken.fits/inside");
    EXPECT_FALSE(siderama::writeFits(dir + "/taken.fits", 1, 1, Pixels{1}));
    EXPECT_TRUE(QFileInfo(dir + "/taken.fits/inside").isDir());
}

TEST_F(FitsWriterTest, PixelCountMustMatchTheDimensions) {
    EXPECT_FALSE(siderama::writeFits(dir + "/a.fits", 2, 2, Pixels{1, 2, 3}));
    EXPECT_FALSE(siderama::writeFits(dir + "/b.fits", 0, 0, Pixels{}));
    EXPECT_FALSE(siderama::writeFits(dir + "/c.fits", -1, -1, Pixels{1}));
    EXPECT_TRUE(QDir(dir).isEmpty());
}

// Holds the file-size limit of the process for one scope, so writing beyond
// it fails (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(FitsWriterTest, AFailedWriteRemovesThePartialFile) {
    const QString path = dir + "/big.fits";
    const Pixels pixels(1000 * 1000, 7);
    bool written = true;
    ::testing::internal::CaptureStderr();
    {
        FileSizeLimit limit(100 * 1000);
        written = siderama::writeFits(path, 1000, 1000, pixels);
    }
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(written);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_NE(log.find("big.fits"), std::string::npos) << log;
}

}  // namespace
