#pragma once

#include <QByteArray>
#include <QString>

namespace siderama {

// True when the path names a FITS file: extension ".fit", ".fits" or ".fts",
// in any letter case. Such files go to the tools without conversion.
bool isFitsPath(const QString& path);

// File extension for image data recognised by its leading bytes: "fits",
// "jpg", "png", "tiff" (either byte order) or "raw" (raw camera frames);
// "" when the data is none of these.
QString imageExtensionForData(const QByteArray& leadingBytes);

}  // namespace siderama
