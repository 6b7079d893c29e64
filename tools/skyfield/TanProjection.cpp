#include "TanProjection.h"

#include <cmath>
#include <numbers>

namespace skyfield {

namespace {
constexpr double radian = std::numbers::pi / 180.0;
}

TanProjection::TanProjection(double ra, double dec, double arcsecPerPixel, double rotation, int width,
                             int height)
    : ra0_(ra * radian), sinDec0_(std::sin(dec * radian)), cosDec0_(std::cos(dec * radian)),
      pixelsPerDegree_(3600.0 / arcsecPerPixel), cosRotation_(std::cos(rotation * radian)),
      sinRotation_(std::sin(rotation * radian)), centreX_((width - 1) / 2.0), centreY_((height - 1) / 2.0) {}

std::optional<PixelPosition> TanProjection::project(double ra, double dec) const {
    const double dRa = ra * radian - ra0_;
    const double sinDec = std::sin(dec * radian), cosDec = std::cos(dec * radian);
    const double cosDistance = sinDec0_ * sinDec + cosDec0_ * cosDec * std::cos(dRa);
    if (cosDistance <= 0) return std::nullopt;
    // Standard coordinates in degrees: xi towards east, eta towards north.
    const double xi = cosDec * std::sin(dRa) / cosDistance / radian;
    const double eta = (cosDec0_ * sinDec - sinDec0_ * cosDec * std::cos(dRa)) / cosDistance / radian;
    // On the image (right, up) east is left at rotation 0, then turned.
    const double right = -xi * cosRotation_ - eta * sinRotation_;
    const double up = -xi * sinRotation_ + eta * cosRotation_;
    return PixelPosition{centreX_ + right * pixelsPerDegree_, centreY_ - up * pixelsPerDegree_};
}

}  // namespace skyfield
