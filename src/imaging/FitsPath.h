#pragma once

#include <QString>

namespace siderama {

// True when the path names a FITS file: extension ".fit", ".fits" or ".fts",
// in any letter case. Such files go to the tools without conversion.
bool isFitsPath(const QString& path);

}  // namespace siderama
