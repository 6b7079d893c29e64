#include "solver/SolveSummary.h"

#include "solver/SkyWcs.h"
#include "solver/SolveResult.h"

#include <QRegularExpression>
#include <cmath>
#include <nlohmann/json.hpp>

namespace siderama {

namespace {

const SkyWcs* solution(const QueueEntry& entry) {
    if (entry.state != QueueEntry::State::solved || !entry.result || !entry.result->wcs) return nullptr;
    return &*entry.result->wcs;
}

double seconds(const QueueEntry& entry) { return entry.result ? entry.result->seconds : 0; }

QString csvField(QString text) {
    if (!text.contains(QRegularExpression("[\",\r\n]"))) return text;
    return '"' + text.replace('"', "\"\"") + '"';
}

// Degrees as units:minutes:seconds with `decimals` on the seconds, carried
// correctly when rounding reaches 60.
QString sexagesimal(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double total = std::round(std::abs(value) * 3600 * scale);
    const long long whole = static_cast<long long>(total / scale);
    const double fraction = (total - double(whole) * scale) / scale;
    return QString("%1:%2:%3")
        .arg(whole / 3600, 2, 10, QChar('0'))
        .arg(whole / 60 % 60, 2, 10, QChar('0'))
        .arg(double(whole % 60) + fraction, decimals + 3, 'f', decimals, QChar('0'));
}

}  // namespace

Calibration Calibration::of(const SkyWcs& wcs) {
    const SkyPoint centre = wcs.centre();
    const double scale = wcs.pixelScale();
    return {centre.ra, centre.dec, wcs.radius(), scale, wcs.orientation(), wcs.parity(),
            wcs.imageSize().width() * scale, wcs.imageSize().height() * scale};
}

QString hoursMinutesSeconds(double ra) { return sexagesimal(std::fmod(ra + 360, 360) / 15, 2); }

QString degreesMinutesSeconds(double dec) { return (dec < 0 ? "−" : "+") + sexagesimal(dec, 1); }

QString summaryLine(const QueueEntry& entry) {
    const SkyWcs* wcs = solution(entry);
    if (!wcs) return entry.path + ": " + stateName(entry.state) + ": " + entry.message;
    const Calibration c = Calibration::of(*wcs);
    return QString("%1: solved RA %2 Dec %3 (%4 %5) scale %6″/px up %7° E of N in %8 s")
        .arg(entry.path)
        .arg(c.ra, 0, 'f', 5)
        .arg(c.dec, 0, 'f', 5)
        .arg(hoursMinutesSeconds(c.ra), degreesMinutesSeconds(c.dec))
        .arg(c.pixscale, 0, 'f', 3)
        .arg(wcs->upPositionAngle(), 0, 'f', 2)
        .arg(seconds(entry), 0, 'f', 1);
}

QString summaryJson(const QueueEntry& entry) {
    nlohmann::json json{{"file", entry.path.toStdString()}, {"status", stateName(entry.state).toStdString()}};
    if (const SkyWcs* wcs = solution(entry)) {
        const Calibration c = Calibration::of(*wcs);
        json.update({{"ra", c.ra}, {"dec", c.dec}, {"radius", c.radius}, {"pixscale", c.pixscale},
                     {"orientation", c.orientation}, {"parity", c.parity}, {"width_arcsec", c.width_arcsec},
                     {"height_arcsec", c.height_arcsec}});
        if (entry.result->quality) json["quality"] = entry.result->quality->toJson();
    } else {
        json["message"] = entry.message.toStdString();
    }
    json["seconds"] = seconds(entry);
    return QString::fromStdString(json.dump());
}

QString summaryCsv(const std::vector<QueueEntry>& entries) {
    QString csv = "file,state,ra,dec,pixscale,orientation,up_east_of_north,seconds,message\r\n";
    for (const QueueEntry& entry : entries) {
        QStringList fields{csvField(entry.path), stateName(entry.state)};
        if (const SkyWcs* wcs = solution(entry)) {
            const Calibration c = Calibration::of(*wcs);
            fields << QString::number(c.ra, 'f', 6) << QString::number(c.dec, 'f', 6)
                   << QString::number(c.pixscale, 'f', 4) << QString::number(c.orientation, 'f', 3)
                   << QString::number(wcs->upPositionAngle(), 'f', 3);
        } else {
            fields << "" << "" << "" << "" << "";
        }
        fields << QString::number(seconds(entry), 'f', 2) << csvField(entry.message);
        csv += fields.join(',') + "\r\n";
    }
    return csv;
}

}  // namespace siderama
