#pragma once

#include "StarRenderer.h"

#include <QString>
#include <QStringList>

namespace skyfield {

// Output formats: fits (unsigned 16-bit), png8 (8-bit grey), jpg (8-bit RGB),
// png16 and tiff16 (16-bit grey), tiff48 (16-bit RGB), raw1, raw2, raw3.
QStringList formatNames();

// Writes the field in the format (JPEG at `quality`); false (with a message
// on stderr) on failure.
bool writeField(const Field& field, const QString& format, const QString& path, int quality = 90);

}  // namespace skyfield
