#pragma once

#include <QString>

namespace skyfield {

// Gives a written JPEG the EXIF block a camera would: Model, FocalLength,
// FocalPlaneXResolution (in centimetres, from the pixel pitch) and
// PixelXDimension. False (with a message on stderr) on failure.
bool addCameraExif(const QString& jpeg, double focalMillimetres, double pitchMicrometres, int width);

}  // namespace skyfield
