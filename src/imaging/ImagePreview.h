#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace siderama {

// An image decoded for display, reduced so that its longer side is at most
// `maxSide` pixels. FITS images (first image, FITS row 1 at the top) are
// stretched from their faint sky to their bright stars; other formats are
// shown as decoded. Slow for large files: call it off the main thread.
struct ImagePreview {
    QImage image;    // null when the file cannot be decoded
    QSize fullSize;  // the size of the image in the file
    QString error;

    static ImagePreview load(const QString& path, int maxSide);
};

}  // namespace siderama
