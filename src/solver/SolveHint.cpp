#include "solver/SolveHint.h"

namespace siderama {

namespace {
QString number(double value) { return QString::number(value, 'g', 8); }
}  // namespace

std::pair<double, double> scaleWindow(double arcsecPerPixel, double tolerance) {
    return {arcsecPerPixel * (1 - tolerance), arcsecPerPixel * (1 + tolerance)};
}

void SolveHint::complete(const SolveHint& other) {
    bool took = false;
    if (!scale && other.scale) {
        scale = other.scale;
        took = true;
    }
    if (!ra && other.ra) {
        ra = other.ra;
        dec = other.dec;
        radius = other.radius;
        took = true;
    }
    if (took) sources += other.sources;
}

QStringList SolveHint::arguments() const {
    QStringList words;
    if (scale)
        words << "--scale-units" << "arcsecperpix" << "--scale-low" << number(scale->first) << "--scale-high"
              << number(scale->second);
    if (ra && dec) {
        words << "--ra" << number(*ra) << "--dec" << number(*dec);
        if (radius) words << "--radius" << number(*radius);
    }
    return words;
}

QString SolveHint::describe() const {
    QStringList parts;
    if (scale) parts << "scale " + number(scale->first) + "–" + number(scale->second) + " arcsec/pixel";
    if (ra && dec) {
        QString position = "RA " + number(*ra) + "° Dec " + number(*dec) + "°";
        if (radius) position += " within " + number(*radius) + "°";
        parts << position;
    }
    return parts.join(", ") + " (from " + sources.join("; ") + ")";
}

}  // namespace siderama
