#include "remote/web/SkyMap.h"

#include "solver/ConstellationFigures.h"
#include "solver/ConstellationTable.h"
#include "solver/SkyGrid.h"
#include "solver/SkyWcs.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <optional>

namespace siderama {

namespace {

const QColor background(10, 18, 40), gridColour(70, 90, 140), figureColour(120, 190, 255), fieldColour(255, 60, 60);
constexpr double radian = M_PI / 180;

// The field's outline on the sky, `steps` points along each edge.
std::vector<SkyPoint> outline(const SkyWcs& field, int steps = 16) {
    const QSizeF size = field.imageSize();
    const QPointF corners[] = {{0, 0}, {size.width(), 0}, {size.width(), size.height()}, {0, size.height()}};
    std::vector<SkyPoint> points;
    for (int edge = 0; edge < 4; ++edge)
        for (int i = 0; i < steps; ++i) {
            const double t = double(i) / steps;
            points.push_back(field.toSky(corners[edge] * (1 - t) + corners[(edge + 1) % 4] * t));
        }
    return points;
}

void drawFieldMarker(QPainter& painter, const QPolygonF& shape) {
    painter.setPen(QPen(fieldColour, 2));
    painter.setBrush(QColor(255, 60, 60, 90));
    painter.drawPolygon(shape);
    const QRectF box = shape.boundingRect();
    if (std::max(box.width(), box.height()) < 12) {  // too small to see: ring it
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(box.center(), 10, 10);
    }
}

// --- the whole sky ---------------------------------------------------------

class HammerProjection {
public:
    explicit HammerProjection(QSize size) : size(size) {}

    QPointF operator()(SkyPoint sky) const {
        const double lambda = std::remainder(sky.ra, 360.0) * radian, phi = sky.dec * radian;
        const double z = std::sqrt(1 + std::cos(phi) * std::cos(lambda / 2));
        const double x = 2 * M_SQRT2 * std::cos(phi) * std::sin(lambda / 2) / z, y = M_SQRT2 * std::sin(phi) / z;
        return {size.width() / 2.0 - x / (2 * M_SQRT2) * halfWidth(), size.height() / 2.0 - y / M_SQRT2 * halfHeight()};
    }
    // True when a short segment between these points crosses the map's edge.
    static bool wraps(SkyPoint a, SkyPoint b) {
        return std::abs(std::remainder(a.ra, 360.0) - std::remainder(b.ra, 360.0)) > 180;
    }
    QRectF ellipse() const {
        return {size.width() / 2.0 - halfWidth(), size.height() / 2.0 - halfHeight(), 2 * halfWidth(), 2 * halfHeight()};
    }

private:
    double halfWidth() const { return size.width() / 2.0 - 4; }
    double halfHeight() const { return size.height() / 2.0 - 4; }
    QSize size;
};

// A line of the sky traced in steps, broken where it crosses the map's edge.
void drawTraced(QPainter& painter, const HammerProjection& project, const std::vector<SkyPoint>& points) {
    for (size_t i = 1; i < points.size(); ++i)
        if (!HammerProjection::wraps(points[i - 1], points[i]))
            painter.drawLine(project(points[i - 1]), project(points[i]));
}

void drawAllSkyGrid(QPainter& painter, const HammerProjection& project) {
    painter.setPen(QPen(gridColour, 1));
    for (int ra = 0; ra < 360; ra += 30) {
        std::vector<SkyPoint> meridian;
        for (int dec = -90; dec <= 90; dec += 5) meridian.push_back({ra + (ra == 180 ? 1e-6 : 0), double(dec)});
        drawTraced(painter, project, meridian);
    }
    for (int dec = -60; dec <= 60; dec += 30) {
        std::vector<SkyPoint> parallel;
        for (double ra = -179.999; ra <= 180; ra += 5) parallel.push_back({ra, double(dec)});
        parallel.push_back({179.999, double(dec)});
        drawTraced(painter, project, parallel);
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(project.ellipse());
}

QImage allSky(const SkyWcs& field, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const HammerProjection project(size);
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawEllipse(project.ellipse());
    drawAllSkyGrid(painter, project);
    painter.setPen(QPen(figureColour, 1));
    for (const ConstellationOnSky& figure : constellationTable())
        for (const auto& [a, b] : figure.lines)
            if (!HammerProjection::wraps(a, b)) painter.drawLine(project(a), project(b));
    QPolygonF shape;
    bool wrapped = false;
    const std::vector<SkyPoint> edge = outline(field);
    for (size_t i = 0; i < edge.size(); ++i) {
        wrapped = wrapped || HammerProjection::wraps(edge[i], edge[(i + 1) % edge.size()]);
        shape << project(edge[i]);
    }
    if (wrapped) shape = QPolygonF() << project(field.centre());  // across the edge: a ring at the centre
    drawFieldMarker(painter, shape);
    return image;
}

// --- zoomed maps -----------------------------------------------------------

QByteArray card(const QString& key, const QString& value) {
    return (key.leftJustified(8, ' ') + "= " + value).leftJustified(80, ' ', true).toLatin1();
}

// A gnomonic projection of `widthDegrees` across `size`, centred on `centre`,
// north up and east left.
std::optional<SkyWcs> mapProjection(SkyPoint centre, double widthDegrees, QSize size) {
    const double scale = widthDegrees / size.width();
    const auto number = [](double value) { return QString::number(value, 'g', 15); };
    QByteArray header = card("SIMPLE", "T") + card("NAXIS", "0") + card("CTYPE1", "'RA---TAN'") +
                        card("CTYPE2", "'DEC--TAN'") + card("CRVAL1", number(centre.ra)) +
                        card("CRVAL2", number(centre.dec)) + card("CRPIX1", number(size.width() / 2.0 + 0.5)) +
                        card("CRPIX2", number(size.height() / 2.0 + 0.5)) + card("CD1_1", number(-scale)) +
                        card("CD1_2", "0") + card("CD2_1", "0") + card("CD2_2", number(-scale)) +
                        card("IMAGEW", QString::number(size.width())) + card("IMAGEH", QString::number(size.height()));
    header += QByteArray("END").leftJustified(80, ' ');
    return SkyWcs::fromHeader(header);
}

QImage zoomed(const SkyWcs& field, int zoom, QSize size) {
    const std::optional<SkyWcs> map = mapProjection(field.centre(), SkyMap::widthDegrees(field, zoom), size);
    if (!map) return {};
    QImage image(size, QImage::Format_RGB32);
    image.fill(background);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(std::max(10, size.width() / 40));
    painter.setFont(font);
    for (const GridLine& line : skyGrid(*map)) {
        painter.setPen(QPen(gridColour, 1));
        painter.drawPolyline(line.points);
        if (!line.points.isEmpty()) painter.drawText(line.points.first() + QPointF(3, -3), line.label);
    }
    for (const ConstellationFigure& figure : constellationFigures(*map)) {
        painter.setPen(QPen(figureColour, 1.5));
        for (const QLineF& line : figure.lines) painter.drawLine(line);
        painter.setPen(figureColour.lighter(130));
        painter.drawText(figure.labelPosition, figure.name);
    }
    QPolygonF shape;
    for (const SkyPoint& point : outline(field))
        if (const std::optional<QPointF> pixel = map->toPixel(point)) shape << *pixel;
    drawFieldMarker(painter, shape);
    return image;
}

}  // namespace

double SkyMap::widthDegrees(const SkyWcs& field, int zoom) {
    const double diagonal = 2 * field.radius();
    switch (zoom) {
    case 1: return std::clamp(20 * diagonal, 60.0, 150.0);
    case 2: return std::clamp(8 * diagonal, 12.0, 150.0);
    case 3: return std::clamp(2.5 * diagonal, 0.01, 150.0);
    default: return 360;
    }
}

QImage SkyMap::draw(const SkyWcs& field, int zoom, QSize size) {
    if (zoom == 0) return allSky(field, size);
    if (zoom > 0 && zoom < zoomLevels) return zoomed(field, zoom, size);
    return {};
}

}  // namespace siderama
