#include "skyfield/SkyField.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cmath>
#include <numbers>

namespace skyfield {

QString skyFieldExecutable() { return QStringLiteral(SKYFIELD_EXECUTABLE); }

std::optional<SkyFieldTruth> runSkyField(const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(skyFieldExecutable(), arguments);
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        return std::nullopt;
    }
    const QJsonObject truth = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    if (truth.isEmpty()) return std::nullopt;
    return SkyFieldTruth{truth["ra"].toDouble(),          truth["dec"].toDouble(),
                         truth["scale"].toDouble(),       truth["rotation"].toDouble(),
                         truth["width"].toInt(),          truth["height"].toInt(),
                         truth["stars"].toInt()};
}

double angularSeparation(double ra1, double dec1, double ra2, double dec2) {
    constexpr double radian = std::numbers::pi / 180.0;
    const double a = std::sin((dec2 - dec1) * radian / 2), b = std::sin((ra2 - ra1) * radian / 2);
    const double h = a * a + std::cos(dec1 * radian) * std::cos(dec2 * radian) * b * b;
    return 2 * std::asin(std::sqrt(std::min(1.0, h))) / radian;
}

}  // namespace skyfield
