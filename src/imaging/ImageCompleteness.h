#pragma once

#include <QString>

namespace siderama {

// Whether an image file holds everything its own structure announces: every
// header and data unit of a FITS file, a JPEG up to its end marker, a PNG up
// to its IEND chunk. A frame still being written fails; formats without such
// an end (TIFF, raw) pass.
class ImageCompleteness {
public:
    static bool isComplete(const QString& path);

private:
    static bool fitsComplete(const QString& path);
};

}  // namespace siderama
