#pragma once

#include <QString>

namespace siderama {

// Converts an image file (any format QImageReader decodes, raw camera frames
// included, recognised by content) into a FITS file of unsigned 16-bit mono
// pixels, with the image's top row as FITS row 1 (see monoPixels for the
// colour rules). An existing destination is replaced. Returns true when the
// FITS file was written completely; on false the reason is in the system log
// and no destination file is left (an existing one is only touched once the
// source has been decoded).
bool Convert(const QString& source, const QString& destination);

}  // namespace siderama
