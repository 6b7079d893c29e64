#pragma once

// Reads back the FITS files the tests write, through CFITSIO.

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace imagingtest {

struct FitsImage {
    int bitpix = 0;
    std::vector<long long> axes;
    std::optional<double> bzero;
    std::vector<uint16_t> pixels;  // as unsigned 16-bit, first pixel first

    uint16_t at(long long x, long long y) const { return pixels[size_t(y * axes[0] + x)]; }
};

// None when CFITSIO cannot open or read the file.
std::optional<FitsImage> readFits(const QString& path);

}  // namespace imagingtest
