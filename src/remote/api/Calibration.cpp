#include "remote/api/Calibration.h"

#include <QHash>
#include <QStringList>

#include <cmath>

namespace siderama {

namespace {

QHash<QString, double> values(const QString& output) {
    QHash<QString, double> found;
    for (const QString& line : output.split('\n')) {
        const QStringList words = line.simplified().split(' ');
        bool ok = false;
        const double value = words.size() == 2 ? words[1].toDouble(&ok) : 0;
        if (ok) found.insert(words[0], value);
    }
    return found;
}

}  // namespace

std::optional<Calibration> Calibration::fromWcsinfo(const QString& output, bool topRowFirst) {
    const QHash<QString, double> found = values(output);
    for (const char* key : {"ra_center", "dec_center", "orientation", "det", "imagew", "imageh"})
        if (!found.contains(key)) return std::nullopt;
    Calibration c;
    c.ra = found["ra_center"];
    c.dec = found["dec_center"];
    const double det = found["det"];
    c.pixscale = 3600 * std::sqrt(std::abs(det));
    c.parity = det >= 0 ? 1.0 : -1.0;
    c.orientation = found["orientation"];
    if (topRowFirst) c.orientation = std::fmod(std::fmod(180 - c.orientation, 360) + 360, 360);
    c.widthArcsec = c.pixscale * found["imagew"];
    c.heightArcsec = c.pixscale * found["imageh"];
    c.radius = c.pixscale * std::hypot(found["imagew"], found["imageh"]) / 2 / 3600;
    return c;
}

nlohmann::json Calibration::toJson() const {
    return {{"ra", ra}, {"dec", dec}, {"radius", radius}, {"pixscale", pixscale}, {"orientation", orientation},
            {"parity", parity}, {"width_arcsec", widthArcsec}, {"height_arcsec", heightArcsec}};
}

Calibration Calibration::fromJson(const nlohmann::json& o) {
    return {o.value("ra", 0.0), o.value("dec", 0.0), o.value("radius", 0.0), o.value("pixscale", 0.0),
            o.value("orientation", 0.0), o.value("parity", 1.0), o.value("width_arcsec", 0.0),
            o.value("height_arcsec", 0.0)};
}

}  // namespace siderama
