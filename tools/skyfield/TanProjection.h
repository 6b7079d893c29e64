#pragma once

#include <optional>

namespace skyfield {

struct PixelPosition {
    double x;  // columns to the right, 0 = centre of the leftmost column
    double y;  // rows downwards, 0 = centre of the top row
};

// Gnomonic (TAN) projection of the sky onto an image of the given size whose
// centre pixel looks at (ra, dec). At rotation 0 north is up and east left
// (the sky as seen); a positive rotation turns the sky counter-clockwise on
// the image, so north points `rotation` degrees from up towards the left.
class TanProjection {
public:
    TanProjection(double ra, double dec, double arcsecPerPixel, double rotation, int width, int height);

    // Where a star lands; none for the hemisphere facing away.
    std::optional<PixelPosition> project(double ra, double dec) const;

private:
    double ra0_, sinDec0_, cosDec0_;
    double pixelsPerDegree_;
    double cosRotation_, sinRotation_;
    double centreX_, centreY_;
};

}  // namespace skyfield
