#pragma once

#include <QByteArray>
#include <QString>

namespace siderama {

class FitsHeader;

// The name of the camera that took an image: INSTRUME or CAMERA in a FITS
// header, or the EXIF Model tag of a JPEG or TIFF file. "" when unknown.
class CameraModel {
public:
    static QString read(const QString& imagePath, const FitsHeader& header);
    // The Model tag of a TIFF structure (a TIFF file, or a JPEG's Exif block
    // after its "Exif\0\0").
    static QString exifModel(const QByteArray& tiff);

private:
    static QByteArray jpegExif(const QByteArray& jpeg);
};

}  // namespace siderama
