#pragma once

#include "imaging/FitsPath.h"

#include <QByteArray>
#include <QString>

namespace siderama {

// File extension for image data recognised by its leading bytes: "fits",
// "jpg", "png", "tiff" (either byte order) or "raw" (raw camera frames);
// "" when the data is none of these.
QString imageExtensionForData(const QByteArray& leadingBytes);

}  // namespace siderama
