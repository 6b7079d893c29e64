#pragma once

#include <QString>

namespace siderama {

// 150 million pixels: the largest astronomy sensors.
constexpr qint64 defaultMaxPixels() { return 150'000'000; }

// Converts a JPEG, PNG, TIFF or raw camera frame file, recognised by its
// content (no other format is decoded), into a FITS file of unsigned 16-bit
// mono pixels, with the image's top row as FITS row 1 (see monoPixels for
// the colour rules). An image of more than `maxPixels` pixels, as its header
// tells, is refused before it is decoded. The decoded image is the only copy
// held: rows are converted as they are written. An existing destination is
// replaced only by a whole file. Returns true when the FITS file was written
// completely; on false the reason is in the system log and in `reason` (when
// given), and no destination file is left.
bool Convert(const QString& source, const QString& destination, qint64 maxPixels = defaultMaxPixels(),
             QString* reason = nullptr);

}  // namespace siderama
