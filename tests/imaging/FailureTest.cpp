// Conversions that must fail: nothing is written, an earlier result stays,
// and the failure is logged.
#include "imaging/Convert.h"
#include "imaging/FitsWriter.h"
#include "imaging/ImagingSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QtPlugin>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

Q_IMPORT_PLUGIN(RawImagePlugin)

namespace {

using imagingtest::rawFrame;

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

// Source name, its content (none: missing), destination below the scratch directory.
TEST(ConversionFailures, Table) {
    const QString dir = imagingtest::scratchDirectory();
    QImage valid(2, 2, QImage::Format_Grayscale8);
    valid.fill(1);
    QImageWriter(dir + "/valid.png", "png").write(valid);
    QDir().mkpath(dir + "/taken.fits/inside");
    const std::vector<std::tuple<QString, std::optional<QByteArray>, QString>> cases{
        {"missing.png", std::nullopt, "out.fits"},
        {"junk.png", "not an image at all", "out.fits"},
        {"empty.jpg", "", "out.fits"},
        {"short.dat", rawFrame("RAW1", 4, 2, "1234567"), "out.fits"},
        {"short16.dat", rawFrame("RAW2", 2, 2, "1234567"), "out.fits"},
        {"short24.dat", rawFrame("RAW3", 1, 1, "12"), "out.fits"},
        {"cut.dat", QByteArray("RAW1\x04\x00\x00\x00\x02", 9), "out.fits"},
        {"unknown.dat", rawFrame("RAW4", 1, 1, "x"), "out.fits"},
        {"nowidth.dat", rawFrame("RAW1", 0, 1, "x"), "out.fits"},
        {"noheight.dat", rawFrame("RAW1", 1, 0, "x"), "out.fits"},
        {"wrap32.dat", rawFrame("RAW1", 0x10000, 0x10000, "abcd"), "out.fits"},  // 4 GiB: 0 in 32 bits
        {"wrap64.dat", rawFrame("RAW3", 0xFFFFFFFF, 0xFFFFFFFF, "abcd"), "out.fits"},
        {"wide.dat", rawFrame("RAW1", 0x80000000u, 1, "abcd"), "out.fits"},
        {"valid.png", {}, "no/such/dir/out.fits"},
        {"valid.png", {}, "taken.fits"},
    };
    for (const auto& [name, content, destination] : cases) {
        const QString source = dir + "/" + name;
        if (content) imagingtest::writeBytes(source, *content);
        const QString target = dir + "/" + destination;
        if (destination == "out.fits") imagingtest::writeBytes(target, "previous result");
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(siderama::Convert(source, target)) << qPrintable(name);
        const std::string log = ::testing::internal::GetCapturedStderr();
        const bool named = log.find(name.toStdString()) != std::string::npos ||
                           log.find(QFileInfo(target).fileName().toStdString()) != std::string::npos;
        EXPECT_TRUE(named) << qPrintable(name) << ": " << log;
        if (destination == "out.fits") EXPECT_EQ(contentOf(target), "previous result") << qPrintable(name);
        else EXPECT_FALSE(QFileInfo(target).isFile()) << qPrintable(name);
    }
    EXPECT_TRUE(QFileInfo(dir + "/taken.fits/inside").isDir());
}

TEST(ConversionFailures, PixelCountMustMatchTheSize) {
    const QString dir = imagingtest::scratchDirectory();
    EXPECT_FALSE(siderama::writeFits(dir + "/a.fits", 2, 2, std::vector<uint16_t>{1, 2, 3}));
    EXPECT_FALSE(siderama::writeFits(dir + "/b.fits", 0, 0, std::vector<uint16_t>{}));
    EXPECT_FALSE(siderama::writeFits(dir + "/c.fits", -1, -1, std::vector<uint16_t>{1}));
    EXPECT_TRUE(QDir(dir).isEmpty());
}

// Under a file-size limit writing fails (EFBIG, SIGXFSZ ignored) midway.
TEST(ConversionFailures, AFailedWriteRemovesThePartialFile) {
    const QString path = imagingtest::scratchDirectory() + "/big.fits";
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 100 * 1000;
    setrlimit(RLIMIT_FSIZE, &limit);
    ::testing::internal::CaptureStderr();
    const bool written = siderama::writeFits(path, 1000, 1000, std::vector<uint16_t>(1000 * 1000, 7));
    const std::string log = ::testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_NE(log.find("big.fits"), std::string::npos) << log;
}

}  // namespace
