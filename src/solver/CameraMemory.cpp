#include "solver/CameraMemory.h"

#include <QSettings>
#include <QStringList>
#include <cmath>

namespace siderama {

namespace {

QSettings userDefaults() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Siderama", "Siderama");
}

// QSettings keys may not hold slashes or backslashes.
QString settingsKey(const QString& key, const QString& group = "cameras/") {
    return group + QString(key).replace('/', '_').replace('\\', '_');
}

const QString positions = "camera-positions/";

}  // namespace

QString CameraMemory::cameraKey(int width, int height, const QString& model) {
    if (width <= 0 || height <= 0) return {};
    const QString size = QString::number(width) + "x" + QString::number(height);
    const QString name = model.simplified();
    return name.isEmpty() ? size : size + " " + name;
}

std::optional<double> CameraMemory::recall(const QString& key) {
    if (key.isEmpty()) return std::nullopt;
    bool ok = false;
    const double scale = userDefaults().value(settingsKey(key)).toDouble(&ok);
    if (!ok || scale <= 0) return std::nullopt;
    return scale;
}

void CameraMemory::remember(const QString& key, double arcsecPerPixel) {
    if (!key.isEmpty() && arcsecPerPixel > 0) userDefaults().setValue(settingsKey(key), arcsecPerPixel);
}

std::optional<std::pair<double, double>> CameraMemory::recallPosition(const QString& key) {
    if (key.isEmpty()) return std::nullopt;
    const QStringList values = userDefaults().value(settingsKey(key, positions)).toString().split(' ');
    bool raOk = false, decOk = false;
    const double ra = values.value(0).toDouble(&raOk), dec = values.value(1).toDouble(&decOk);
    if (!raOk || !decOk || std::abs(dec) > 90) return std::nullopt;
    return std::pair(ra, dec);
}

void CameraMemory::rememberPosition(const QString& key, double ra, double dec) {
    if (!key.isEmpty())
        userDefaults().setValue(settingsKey(key, positions), QString::number(ra, 'g', 10) + " " + QString::number(dec, 'g', 10));
}

}  // namespace siderama
