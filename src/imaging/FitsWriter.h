#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace siderama {

// Writes a FITS file holding one unsigned 16-bit image (BITPIX 16 with
// BZERO 32768, so 0-65535 are stored exactly): `pixels` row-major, its first
// row as FITS row 1. An existing file at `path` is replaced. The path is taken
// literally (CFITSIO's extended file-name syntax is not applied). On failure
// the error goes to the system log, no partial file is left and the result is
// false.
bool writeFits(const QString& path, qint64 width, qint64 height, std::span<const uint16_t> pixels);

// The same, the pixels asked for one row at a time (`row` fills `width`
// values of row `y`, top first). The file is written under a temporary name
// beside `path` and renamed when whole. Returns why it failed ("disk full"
// when the file did not fit), none on success.
std::optional<QString> writeFitsRows(const QString& path, qint64 width, qint64 height,
                   const std::function<void(qint64 y, uint16_t* row)>& row);

}  // namespace siderama
