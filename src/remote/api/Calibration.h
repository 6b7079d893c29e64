#pragma once

#include <QString>
#include <nlohmann/json.hpp>
#include <optional>

namespace siderama {

// Where a solved image lies on the sky, in the numbers the public
// astrometry.net service reports, computed from what `wcsinfo` prints for
// the solution's WCS (lines "key value").
struct Calibration {
    double ra = 0, dec = 0;   // centre, degrees
    double radius = 0;        // half the diagonal, degrees
    double pixscale = 0;      // arcsec per pixel: 3600·√|det CD|
    double orientation = 0;   // degrees east of north
    double parity = 1;        // 1.0 when det CD ≥ 0, else -1.0
    double widthArcsec = 0, heightArcsec = 0;

    // None when a needed value is missing. `topRowFirst` is for images whose
    // first row is the top one (JPEG, PNG, ...), whose orientation is
    // mirrored: (180 - orientation) mod 360.
    static std::optional<Calibration> fromWcsinfo(const QString& output, bool topRowFirst);

    nlohmann::json toJson() const;
    static Calibration fromJson(const nlohmann::json& object);
};

}  // namespace siderama
