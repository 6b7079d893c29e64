#pragma once

#include <QLineF>
#include <QPointF>
#include <QString>
#include <vector>

namespace siderama {

class SkyWcs;

// A constellation's stick figure where it crosses a solved image.
struct ConstellationFigure {
    QString name;                // e.g. "Orion"
    QPointF labelPosition;       // image pixels, the middle of its visible lines
    std::vector<QLineF> lines;   // image pixels; may reach beyond the image
};

// The figures of the plate-solving suite's constellation table that have a
// line touching the image. The projection is gnomonic, which maps the
// great-circle lines between stars onto straight lines.
std::vector<ConstellationFigure> constellationFigures(const SkyWcs& wcs);

}  // namespace siderama
