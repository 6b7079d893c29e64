#include "solver/ConstellationFigures.h"

#include "solver/SkyWcs.h"

#include <QRectF>

extern "C" {
#include "astrometry/constellations.h"
}

namespace siderama {

namespace {

std::optional<QPointF> starPixel(const SkyWcs& wcs, int star) {
    SkyPoint sky{};
    constellations_get_star_radec(star, &sky.ra, &sky.dec);
    return wcs.toPixel(sky);
}

// True when the segment crosses the rectangle (an end inside or an edge cut).
bool touches(const QLineF& line, const QRectF& rect) {
    if (rect.contains(line.p1()) || rect.contains(line.p2())) return true;
    const QLineF edges[] = {{rect.topLeft(), rect.topRight()}, {rect.topRight(), rect.bottomRight()},
                            {rect.bottomRight(), rect.bottomLeft()}, {rect.bottomLeft(), rect.topLeft()}};
    for (const QLineF& edge : edges)
        if (line.intersects(edge, nullptr) == QLineF::BoundedIntersection) return true;
    return false;
}

}  // namespace

std::vector<ConstellationFigure> constellationFigures(const SkyWcs& wcs) {
    const QRectF image(QPointF(0, 0), wcs.imageSize());
    std::vector<ConstellationFigure> figures;
    for (int c = 0; c < constellations_n(); ++c) {
        ConstellationFigure figure{QString::fromUtf8(constellations_get_longname(c)), {}, {}};
        QPointF sum;
        for (int l = 0; l < constellations_get_nlines(c); ++l) {
            int first = 0, second = 0;
            constellations_get_line(c, l, &first, &second);
            const auto a = starPixel(wcs, first), b = starPixel(wcs, second);
            // Lines with an end behind the image plane do not project.
            if (!a || !b || !touches({*a, *b}, image)) continue;
            figure.lines.emplace_back(*a, *b);
            const QLineF clipped(image.contains(*a) ? *a : *b, image.contains(*b) ? *b : *a);
            sum += clipped.center();
        }
        if (figure.lines.empty()) continue;
        figure.labelPosition = sum / double(figure.lines.size());
        figures.push_back(std::move(figure));
    }
    return figures;
}

}  // namespace siderama
