#pragma once

#include <QString>

#include <cstdint>
#include <span>

namespace siderama {

// Writes a FITS file holding one unsigned 16-bit image (BITPIX 16 with
// BZERO 32768, so 0-65535 are stored exactly): `pixels` row-major, its first
// row as FITS row 1. An existing file at `path` is replaced. The path is taken
// literally (CFITSIO's extended file-name syntax is not applied). On failure
// the error goes to the system log, no partial file is left and the result is
// false.
bool writeFits(const QString& path, qint64 width, qint64 height, std::span<const uint16_t> pixels);

}  // namespace siderama
