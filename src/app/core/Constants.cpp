#include "app/core/Constants.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace siderama {

QColor toQColor(LogColor color) {
    switch (color) {
    case LogColor::green: return QColor::fromRgbF(0.0f, 0.6f, 0.0f, 1.0f);
    case LogColor::yellow: return QColor::fromRgbF(1.0f, 0.5f, 0.0f, 1.0f);
    case LogColor::red: return QColor::fromRgbF(0.5f, 0.0f, 0.0f, 1.0f);
    case LogColor::plain: break;
    }
    return {};
}

const char* ansiColor(LogColor color) {
    switch (color) {
    case LogColor::green: return "\033[32m";
    case LogColor::yellow: return "\033[33m";
    case LogColor::red: return "\033[31m";
    case LogColor::plain: break;
    }
    return "";
}

const QString& FOLDER() {
    static const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Siderama";
    return folder;
}

const QString& CONFIG() {
    static const QString config = FOLDER() + "/siderama.cfg";
    return config;
}

QString executableDirectory() {
    return QFileInfo(QFile::symLinkTarget("/proc/self/exe")).absolutePath();
}

QString toolsDirectory() {
    const QByteArray override = qgetenv("SIDERAMA_TOOLS_DIR");
    if (!override.isEmpty()) return QString::fromLocal8Bit(override);
    return QDir::cleanPath(executableDirectory() + "/../libexec/siderama");
}

}  // namespace siderama
