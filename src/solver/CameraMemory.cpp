#include "solver/CameraMemory.h"

#include <QSettings>

namespace siderama {

namespace {

QSettings userDefaults() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Siderama", "Siderama");
}

// QSettings keys may not hold slashes or backslashes.
QString settingsKey(const QString& key) {
    return "cameras/" + QString(key).replace('/', '_').replace('\\', '_');
}

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

}  // namespace siderama
