// Images in every input format and pixel layout converted to 16-bit unsigned FITS (BZERO 32768), top row first,
// whatever the file name; conversions that must fail; formats recognised by name and leading bytes; frames beyond
// Qt's decode limit and beyond 2^31 pixels (they need gigabytes, so they skip on small machines).
#include "imaging/Convert.h"
#include "imaging/FitsWriter.h"
#include "imaging/ImageFormats.h"
#include "imaging/MonoPixels.h"
#include "support/FitsCards.h"
#include "support/TestSupport.h"
#include <gtest/gtest.h>
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QStorageInfo>
#include <QString>
#include <QUuid>
#include <QtEndian>
#include <QtPlugin>
#include <csignal>
#include <cstdint>
#include <fitsio.h>
#include <list>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

Q_IMPORT_PLUGIN(RawImagePlugin)

using Pixels = std::vector<uint16_t>;

namespace {

QString scratchDirectory() {
    const QString path = QDir::tempPath() + "/imaging-" + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(path);
    return path;
}

QString writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
    return path;
}

QByteArray rawFrame(const char* tag, quint32 width, quint32 height, const QByteArray& pixels) {
    char size[8];
    qToLittleEndian(width, size);
    qToLittleEndian(height, size + 4);
    return QByteArray(tag, 4) + QByteArray(size, 8) + pixels;
}

struct FitsImage {
    int bitpix = 0;
    std::vector<long long> axes;
    std::optional<double> bzero;
    Pixels pixels;  // as unsigned 16-bit, first pixel first
};

// None when CFITSIO cannot open or read the file.
std::optional<FitsImage> readFits(const QString& path) {
    int status = 0, count = 0, keyStatus = 0;
    fitsfile* file = nullptr;
    if (fits_open_diskfile(&file, QFile::encodeName(path).constData(), READONLY, &status)) return std::nullopt;
    FitsImage image;
    fits_get_img_param(file, 0, &image.bitpix, &count, nullptr, &status);
    image.axes.assign(size_t(count), 0);
    if (count > 0) fits_get_img_sizell(file, count, image.axes.data(), &status);
    double bzero = 0;
    if (fits_read_key(file, TDOUBLE, "BZERO", &bzero, nullptr, &keyStatus) == 0) image.bzero = bzero;
    long long pixels = count > 0 ? 1 : 0;
    for (long long axis : image.axes) pixels *= axis;
    image.pixels.assign(size_t(pixels), 0);
    std::vector<LONGLONG> first(image.axes.size(), 1);
    if (pixels > 0) fits_read_pixll(file, TUSHORT, first.data(), pixels, nullptr, image.pixels.data(), nullptr, &status);
    fits_close_file(file, &status);
    if (status != 0) return std::nullopt;
    return image;
}

const uchar* bytes(std::initializer_list<uchar> values) {
    static std::list<std::vector<uchar>> kept;
    return kept.emplace_back(values).data();
}

QImage rgba64(std::initializer_list<QRgba64> values, QImage::Format format = QImage::Format_RGBA64) {
    QImage image(int(values.size()), 1, format);
    std::copy(values.begin(), values.end(), reinterpret_cast<QRgba64*>(image.scanLine(0)));
    return image;
}

// One row of colour-table indices.
QImage indexed(QImage::Format format, const QList<QRgb>& colours, const std::vector<uint>& indices) {
    QImage image(int(indices.size()), 1, format);
    image.setColorTable(colours);
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, 0, indices[size_t(x)]);
    return image;
}

QImage filled(QImage::Format format) {
    QImage image(2, 2, format);
    image.fill(Qt::white);
    return image;
}

QImage grey16(int width, int height, const Pixels& values) {
    QImage image(width, height, QImage::Format_Grayscale16);
    for (int y = 0; y < height; ++y)
        std::copy_n(values.begin() + y * width, width, reinterpret_cast<uint16_t*>(image.scanLine(y)));
    return image;
}

TEST(PixelLayouts, Table) {
    QImage premultiplied(1, 1, QImage::Format_ARGB32_Premultiplied);
    premultiplied.setPixel(0, 0, qPremultiply(qRgba(100, 50, 30, 255)));
    const uchar* rgba = bytes({10, 20, 30, 255, 1, 2, 3, 0});
    const std::vector<std::tuple<const char*, QImage, std::optional<Pixels>>> cases{
        {"grey8, rows padded", QImage(bytes({1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 4, 5, 6, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}),
                                      3, 2, 8, QImage::Format_Grayscale8), Pixels{1, 2, 3, 4, 5, 6}},
        {"rgb888, rows padded", QImage(bytes({1, 1, 1, 2, 2, 2, 0xEE, 0xEE, 3, 3, 3, 4, 4, 4, 0xEE, 0xEE}), 2, 2, 8,
                                       QImage::Format_RGB888), Pixels{3, 6, 9, 12}},
        {"rgba8888", QImage(rgba, 2, 1, 8, QImage::Format_RGBA8888), Pixels{60, 6}},
        {"rgbx8888", QImage(rgba, 2, 1, 8, QImage::Format_RGBX8888), Pixels{60, 6}},
        {"bgr888", QImage(bytes({30, 20, 10, 3, 2, 1}), 2, 1, 6, QImage::Format_BGR888), Pixels{60, 6}},
        {"argb32 premultiplied", premultiplied, Pixels{180}}, {"rgba64, sum beyond 16 bits, rounded down",
         rgba64({QRgba64::fromRgba64(65535, 65535, 65535, 0), QRgba64::fromRgba64(1, 1, 2, 65535),
                 QRgba64::fromRgba64(60000, 50000, 40001, 1)}), Pixels{65535, 1, 50000}},
        {"grey16, top row first", grey16(1, 2, {50000, 7}), Pixels{50000, 7}},
        {"grey palette", indexed(QImage::Format_Indexed8, {qRgb(7, 7, 7), qRgb(250, 250, 250)}, {1, 0}), Pixels{250, 7}},
        {"colour palette", indexed(QImage::Format_Indexed8, {qRgb(7, 7, 7), qRgb(200, 10, 1)}, {1, 0}), Pixels{211, 21}},
        {"one bit, more than a byte a row", indexed(QImage::Format_Mono, {qRgb(0, 0, 0), qRgb(255, 255, 255)},
                                                    {1, 0, 0, 0, 0, 0, 0, 0, 1}), Pixels{255, 0, 0, 0, 0, 0, 0, 0, 255}},
        {"rgb16", filled(QImage::Format_RGB16), std::nullopt}, {"alpha8", filled(QImage::Format_Alpha8), std::nullopt},
        {"null", QImage(), std::nullopt},
    };
    for (const auto& [name, image, expected] : cases) EXPECT_EQ(siderama::monoPixels(image), expected) << name;
}

QImage rows(QImage::Format format, int width, const QList<QRgb>& colours) {
    QImage image(width, int(colours.size()) / width, format);
    for (int i = 0; i < colours.size(); ++i) image.setPixel(i % width, i / width, colours[i]);
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
        {"rgb48.tiff", encoded(rgba64({QRgba64::fromRgba64(65535, 65535, 65535, 65535), QRgba64::fromRgba64(1, 1, 2, 65535),
                                         QRgba64::fromRgba64(60000, 50000, 40001, 65535)}, QImage::Format_RGBX64), "tiff"), 3, {65535, 1, 50000}},
        {"frame.dat", rawFrame("RAW2", 3, 1, le16), 3, {0x1234, 65535, 32768}},
        {"frame.bin", rawFrame("RAW2", 3, 1, le16), 3, {0x1234, 65535, 32768}},
        {"frame", rawFrame("RAW1", 2, 2, "\x07\x08\x09\xFE"), 2, {7, 8, 9, 254}},
        {"frame.png", rawFrame("RAW3", 2, 1, QByteArray("\xFF\xFF\xFF\x01\x02\x03", 6)), 2, {765, 6}},
        {"written.raw", encoded(grey16(2, 1, {0x1234, 0xFFFE}), "raw"), 2, {0x1234, 0xFFFE}},
        {"colour.raw", encoded(rows(QImage::Format_ARGB32, 3, colours), "raw"), 3, {765, 6, 200}},
    };
    const QString dir = scratchDirectory();
    const QString fits = dir + "/out.fits";
    for (const auto& [name, data, width, pixels] : cases) {
        writeBytes(fits, QByteArray(100000, 'x'));  // an earlier file is replaced
        ASSERT_TRUE(siderama::Convert(writeBytes(dir + "/" + name, data), fits)) << qPrintable(name);
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
    const QString dir = scratchDirectory();
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

// Source name, its content (none: missing), destination below the scratch directory.
TEST(ConversionFailures, Table) {
    const QString dir = scratchDirectory();
    QImage valid(2, 2, QImage::Format_Grayscale8);
    valid.fill(1);
    QImageWriter(dir + "/valid.png", "png").write(valid);
    QDir().mkpath(dir + "/taken.fits/inside");
    const std::vector<std::tuple<QString, std::optional<QByteArray>, QString>> cases{
        {"missing.png", std::nullopt, "out.fits"}, {"junk.png", "not an image at all", "out.fits"},
        {"empty.jpg", "", "out.fits"}, {"short.dat", rawFrame("RAW1", 4, 2, "1234567"), "out.fits"},
        {"short16.dat", rawFrame("RAW2", 2, 2, "1234567"), "out.fits"},
        {"short24.dat", rawFrame("RAW3", 1, 1, "12"), "out.fits"},
        {"cut.dat", QByteArray("RAW1\x04\x00\x00\x00\x02", 9), "out.fits"},
        {"unknown.dat", rawFrame("RAW4", 1, 1, "x"), "out.fits"},
        {"nowidth.dat", rawFrame("RAW1", 0, 1, "x"), "out.fits"},
        {"noheight.dat", rawFrame("RAW1", 1, 0, "x"), "out.fits"},
        {"wrap32.dat", rawFrame("RAW1", 0x10000, 0x10000, "abcd"), "out.fits"},  // 4 GiB: 0 in 32 bits
        {"wrap64.dat", rawFrame("RAW3", 0xFFFFFFFF, 0xFFFFFFFF, "abcd"), "out.fits"},
        {"wide.dat", rawFrame("RAW1", 0x80000000u, 1, "abcd"), "out.fits"}, {"valid.png", {}, "no/such/dir/out.fits"},
        {"valid.png", {}, "taken.fits"},
    };
    for (const auto& [name, content, destination] : cases) {
        const QString source = dir + "/" + name;
        if (content) writeBytes(source, *content);
        const QString target = dir + "/" + destination;
        if (destination == "out.fits") writeBytes(target, "previous result");
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(siderama::Convert(source, target)) << qPrintable(name);
        const std::string log = ::testing::internal::GetCapturedStderr();
        const bool named = log.find(name.toStdString()) != std::string::npos ||
                           log.find(QFileInfo(target).fileName().toStdString()) != std::string::npos;
        EXPECT_TRUE(named) << qPrintable(name) << ": " << log;
        if (destination == "out.fits") EXPECT_EQ(testsupport::readFile(target), "previous result") << qPrintable(name);
        else EXPECT_FALSE(QFileInfo(target).isFile()) << qPrintable(name);
    }
    EXPECT_TRUE(QFileInfo(dir + "/taken.fits/inside").isDir());
}

// Under a file-size limit writing fails (EFBIG, SIGXFSZ ignored) midway.
TEST(ConversionFailures, AFailedWriteRemovesThePartialFile) {
    const QString path = scratchDirectory() + "/big.fits";
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

TEST(Sniffing, FitsNames) {
    for (const char* path : {"a.fits", "A.FITS", "b.Fit", "c.FTS", "/data/night 1/m31.fts", "x.y.FiTs"})
        EXPECT_TRUE(siderama::isFitsPath(path)) << path;
    for (const char* path : {"a.png", "a.fits.gz", "fits", "a.fitsx", "a.fit/", "", "dir.fits/image.jpg"})
        EXPECT_FALSE(siderama::isFitsPath(path)) << path;
}

TEST(Sniffing, LeadingBytes) {
    const QImage image = filled(QImage::Format_RGB32);
    const std::vector<std::pair<QByteArray, QString>> cases{
        {testsupport::fitsCards(), "fits"}, {encoded(image, "jpeg"), "jpg"}, {encoded(image, "png"), "png"},
        {encoded(image, "tiff"), "tiff"}, {QByteArray("II*\0", 4), "tiff"}, {QByteArray("MM\0*", 4), "tiff"},
        {QByteArray("RAW1") + QByteArray(8, '\0'), "raw"}, {QByteArray("RAW2") + QByteArray(8, '\0'), "raw"},
        {QByteArray("RAW3") + QByteArray(8, '\0'), "raw"}, {"", ""}, {"RAW4", ""}, {"RAW", ""}, {"SIMPLE =", ""},
        {QByteArray("\x89PNG", 4), ""}, {"II*", ""}, {"GIF89a", ""}, {QByteArray("MM*\0", 4), ""},
    };
    for (const auto& [data, extension] : cases)
        EXPECT_EQ(siderama::imageExtensionForData(data), extension) << data.toHex().constData();
}

// A raw frame beyond Qt's decode limit and beyond 2^31 pixels (it needs gigabytes, so it skips on small machines).
TEST(LargeFrames, MoreThanTwoGigapixelsConvertCompletely) {
    const QString dir = scratchDirectory();
    constexpr qint64 GiB = 1LL << 30, width = 65536, height = 32769;  // 2^31 + 2^16 pixels
    if (qint64(sysconf(_SC_AVPHYS_PAGES)) * sysconf(_SC_PAGESIZE) < 8 * GiB || QStorageInfo(dir).bytesAvailable() < 7 * GiB)
        GTEST_SKIP() << "needs 8 GiB of memory and 7 GiB of disk";
    QByteArray pixels(width * height, '\x07');
    pixels[pixels.size() - 1] = '\xFE';
    const QString source = writeBytes(dir + "/huge.dat", rawFrame("RAW1", width, height, pixels));
    pixels.clear();
    ASSERT_TRUE(siderama::Convert(source, dir + "/huge.fits", width * height));
    QFile::remove(source);
    EXPECT_EQ(QFile(dir + "/huge.fits").size(), 2880 + (width * height * 2 + 2879) / 2880 * 2880);
    int status = 0;
    fitsfile* file = nullptr;
    fits_open_diskfile(&file, QFile::encodeName(dir + "/huge.fits").constData(), READONLY, &status);
    for (const auto& [x, y, value] : std::vector<std::tuple<qint64, qint64, uint16_t>>{{1, 1, 7}, {width, height, 254}}) {
        LONGLONG first[2] = {x, y};
        uint16_t read = 0;
        fits_read_pixll(file, TUSHORT, first, 1, nullptr, &read, nullptr, &status);
        EXPECT_EQ(read, value);
    }
    fits_close_file(file, &status);
    EXPECT_EQ(status, 0);
    QFile::remove(dir + "/huge.fits");
}

}  // namespace
