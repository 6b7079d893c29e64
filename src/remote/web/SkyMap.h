#pragma once

#include <QImage>
#include <QSize>

namespace siderama {

class SkyWcs;

// Where a solved field lies on the sky, drawn for people: zoom 0 is the
// whole sky (Hammer–Aitoff, 0h in the middle, right ascension growing to
// the left), zooms 1 to 3 are ever closer gnomonic maps centred on the
// field, north up. Each shows the constellation figures, a coordinate grid
// and the field's outline in red.
class SkyMap {
public:
    static constexpr int zoomLevels = 4;

    // The map at `zoom` (0 to 3); a null image for another zoom.
    static QImage draw(const SkyWcs& field, int zoom, QSize size);
    // The width of a zoomed map in degrees: a few times the field's
    // diagonal, within sensible bounds.
    static double widthDegrees(const SkyWcs& field, int zoom);
};

}  // namespace siderama
