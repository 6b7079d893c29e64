#pragma once

#include <QString>
#include <optional>

namespace siderama {

// The pixel scale a photo's EXIF data implies (a DSLR writes it into every
// JPEG): the focal length with the sensor's pixel pitch (FocalPlaneX-
// Resolution and its unit), or else the 35 mm equivalent focal length over
// the image's longer side. The pitch is that of the EXIF image width, so a
// photo scaled down since (or on conversion) gets the scale of its pixels.
class ExifScale {
public:
    // Arcseconds per pixel of an image `width` × `height` pixels made from
    // the JPEG `path`; none without a focal length.
    static std::optional<double> read(const QString& path, int width, int height);

    static constexpr double tolerance = 0.15;  // nominal focal lengths and lens distortion
};

}  // namespace siderama
