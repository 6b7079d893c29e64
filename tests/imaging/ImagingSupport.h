#pragma once

// Image files for the imaging tests, and FITS files read back with CFITSIO.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace imagingtest {

// A fresh directory below the test's private temporary directory.
QString scratchDirectory();
QString writeBytes(const QString& path, const QByteArray& bytes);
// A raw frame: tag ("RAW1" ...), width and height (little-endian), then `pixels`.
QByteArray rawFrame(const char* tag, quint32 width, quint32 height, const QByteArray& pixels);

struct FitsImage {
    int bitpix = 0;
    std::vector<long long> axes;
    std::optional<double> bzero;
    std::vector<uint16_t> pixels;  // as unsigned 16-bit, first pixel first
};
// None when CFITSIO cannot open or read the file.
std::optional<FitsImage> readFits(const QString& path);
// One pixel, read without loading the rest.
uint16_t fitsPixel(const QString& path, long long x, long long y);

}  // namespace imagingtest
