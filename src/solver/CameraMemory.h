#pragma once

#include <QString>
#include <algorithm>
#include <optional>
#include <utility>

namespace siderama {

// The pixel scales of earlier solves, per camera: the image size and the
// instrument or camera model its header or EXIF data names. Kept in the user
// defaults, so the next image of the same camera starts from a narrow window.
class CameraMemory {
public:
    // "4144x2822 ZWO ASI294MC Pro"; just the size when no model is known;
    // "" (nothing is remembered) when the size is unknown.
    static QString cameraKey(int width, int height, const QString& model);

    static std::optional<double> recall(const QString& key);
    static void remember(const QString& key, double arcsecPerPixel);
    // Where the camera pointed at its last solve (RA, Dec in degrees): the
    // next frame of a sequence is near it.
    static std::optional<std::pair<double, double>> recallPosition(const QString& key);
    static void rememberPosition(const QString& key, double ra, double dec);
    // The radius around the last position that the next frame is searched
    // in: dithers, meridian flips and a slew to a neighbouring target.
    static double slewRadius(double fieldDiagonal) { return std::max(10.0, 2 * fieldDiagonal); }

    // A remembered scale may be a little off for a refocused or re-binned
    // setup: the window around it.
    static constexpr double tolerance = 0.05;
};

}  // namespace siderama
