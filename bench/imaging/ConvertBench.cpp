// Converts a 6000 x 4000 16-bit grey TIFF and prints megapixels per second
// for decoding and, separately, for pixel conversion plus FITS writing, next
// to a plain write of the same bytes (the disk's ceiling) as the peer.
#include "imaging/Convert.h"
#include "imaging/FitsWriter.h"
#include "imaging/MonoPixels.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

namespace {

constexpr int width = 6000, height = 4000;
constexpr double megapixels = width * double(height) / 1e6;
constexpr int rounds = 5;

QImage testImage() {
    QImage image(width, height, QImage::Format_Grayscale16);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) row[x] = uint16_t(random());
    }
    return image;
}

// Best of several rounds, in megapixels per second.
double rate(const std::function<void()>& work) {
    double best = 0;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::max(best, megapixels / (double(timer.nsecsElapsed()) / 1e9));
    }
    return best;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QImage decode(const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer).read();
}

void plainWrite(const QString& path, const std::vector<uint16_t>& pixels) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(reinterpret_cast<const char*>(pixels.data()), qint64(pixels.size() * 2));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString tiff = dir.path() + "/frame.tiff", fits = dir.path() + "/frame.fits";
    if (!QImageWriter(tiff, "tiff").write(testImage())) {
        std::fprintf(stderr, "cannot write the TIFF test frame (qt6-image-formats-plugins?)\n");
        return 1;
    }
    const QByteArray data = readAll(tiff);
    const QImage image = decode(data);
    const auto pixels = *siderama::monoPixels(image);

    const double decoding = rate([&] { decode(data); });
    const double conversion = rate([&] { siderama::writeFits(fits, width, height, *siderama::monoPixels(image)); });
    const double pixelsOnly = rate([&] { siderama::monoPixels(image); });
    const double peer = rate([&] { plainWrite(dir.path() + "/plain.bin", pixels); });
    const double whole = rate([&] { siderama::Convert(tiff, fits); });

    std::printf("6000 x 4000 16-bit grey TIFF (%.0f MP), best of %d\n", megapixels, rounds);
    std::printf("  decoding (QImageReader, TIFF)         %8.1f MP/s\n", decoding);
    std::printf("  pixel conversion + FITS write         %8.1f MP/s  (goal 100)\n", conversion);
    std::printf("    of which pixel conversion alone     %8.1f MP/s\n", pixelsOnly);
    std::printf("  peer: plain write of the same bytes   %8.1f MP/s  (ratio %.2f)\n", peer, conversion / peer);
    std::printf("  whole Convert (read, decode, write)   %8.1f MP/s\n", whole);
    return conversion >= 100 ? 0 : 1;
}
