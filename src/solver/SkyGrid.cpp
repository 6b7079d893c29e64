#include "solver/SkyGrid.h"

#include "solver/SkyWcs.h"

#include <QRectF>
#include <array>
#include <cmath>

namespace siderama {

namespace {

constexpr int samplesPerLine = 200;

// The largest round spacing (degrees) with at least `lines` lines over `span`.
double spacing(double span, double lines, const double* steps, size_t count) {
    for (size_t i = count; i-- > 0;)
        if (span / steps[i] >= lines) return steps[i];
    return steps[0];
}

constexpr std::array<double, 16> decSteps{1 / 60.0, 2 / 60.0, 5 / 60.0, 10 / 60.0, 15 / 60.0, 20 / 60.0, 0.5,
                                          1, 2, 5, 10, 15, 20, 30, 45, 90};
// Right ascension in round minutes and hours of time (1 min = 0.25°).
constexpr std::array<double, 13> raSteps{0.25, 0.5, 1.25, 2.5, 3.75, 5, 7.5, 15, 30, 45, 60, 90, 180};

QString decLabel(double dec, double step) {
    const QString sign = dec < 0 ? "−" : "+";
    const long minutes = std::lround(std::abs(dec) * 60);
    if (step >= 1) return sign + QString("%1°").arg(minutes / 60);
    return sign + QString("%1°%2′").arg(minutes / 60).arg(minutes % 60, 2, 10, QChar('0'));
}

QString raLabel(double ra, double step) {
    const long minutes = std::lround(std::fmod(ra + 360, 360) * 4);
    if (step >= 15) return QString("%1h").arg(minutes / 60);
    return QString("%1h%2m").arg(minutes / 60).arg(minutes % 60, 2, 10, QChar('0'));
}

// Pieces of the line through the sky points from `at(0)` to `at(1)` that lie
// inside the (slightly enlarged) image.
template <typename At>
void trace(const SkyWcs& wcs, At at, GridLine line, std::vector<GridLine>& lines) {
    const QRectF inside = QRectF(QPointF(0, 0), wcs.imageSize()).adjusted(-2, -2, 2, 2);
    for (int i = 0; i <= samplesPerLine; ++i) {
        const std::optional<QPointF> pixel = wcs.toPixel(at(double(i) / samplesPerLine));
        if (pixel && inside.contains(*pixel)) {
            line.points << *pixel;
            continue;
        }
        if (line.points.size() > 1) lines.push_back(line);
        line.points.clear();
    }
    if (line.points.size() > 1) lines.push_back(line);
}

}  // namespace

std::vector<GridLine> skyGrid(const SkyWcs& wcs) {
    // The sky range along the image border, right ascension kept continuous
    // around the centre's.
    const QSizeF size = wcs.imageSize();
    const SkyPoint centre = wcs.centre();
    double raMin = 1e9, raMax = -1e9, decMin = 90, decMax = -90;
    for (int i = 0; i <= 40; ++i) {
        const double t = i / 40.0;
        for (const QPointF& edge : {QPointF(t * size.width(), 0), QPointF(t * size.width(), size.height()),
                                    QPointF(0, t * size.height()), QPointF(size.width(), t * size.height())}) {
            const SkyPoint sky = wcs.toSky(edge);
            double ra = sky.ra;
            while (ra - centre.ra > 180) ra -= 360;
            while (ra - centre.ra < -180) ra += 360;
            raMin = std::min(raMin, ra), raMax = std::max(raMax, ra);
            decMin = std::min(decMin, sky.dec), decMax = std::max(decMax, sky.dec);
        }
    }
    // A pole inside the image: every right ascension crosses it.
    for (const double pole : {90.0, -90.0})
        if (const auto p = wcs.toPixel({0, pole}); p && QRectF(QPointF(0, 0), size).contains(*p)) {
            raMin = 0, raMax = 360;
            (pole > 0 ? decMax : decMin) = pole;
        }
    const double decStep = spacing(decMax - decMin, 3, decSteps.data(), decSteps.size());
    const double raStep = spacing(raMax - raMin, 3, raSteps.data(), raSteps.size());
    std::vector<GridLine> lines;
    // A line of declination ±90° is a point.
    for (double k = std::ceil(decMin / decStep), dec = k * decStep; dec <= decMax && dec < 90; dec = ++k * decStep)
        if (dec > -90)
            trace(wcs, [&](double t) { return SkyPoint{raMin + t * (raMax - raMin), dec}; },
                  {GridLine::Axis::declination, dec, decLabel(dec, decStep), {}}, lines);
    for (double k = std::ceil(raMin / raStep), ra = k * raStep; ra <= raMax && ra < raMin + 360; ra = ++k * raStep)
        trace(wcs, [&](double t) { return SkyPoint{ra, decMin + t * (decMax - decMin)}; },
              {GridLine::Axis::rightAscension, std::fmod(ra + 360, 360), raLabel(ra, raStep), {}}, lines);
    return lines;
}

}  // namespace siderama
