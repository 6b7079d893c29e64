#pragma once

#include <QPolygonF>
#include <QString>
#include <vector>

namespace siderama {

class SkyWcs;

// One line of constant right ascension or declination across an image.
struct GridLine {
    enum class Axis { rightAscension, declination };

    Axis axis;
    double value;      // degrees
    QString label;     // e.g. "5h36m" or "−5°20′"
    QPolygonF points;  // image pixels, a piece of the line inside the image
};

// The right ascension / declination grid over a solved image, with a round
// spacing that gives a few lines across the field, traced through the WCS.
std::vector<GridLine> skyGrid(const SkyWcs& wcs);

}  // namespace siderama
