#include "core/Constants.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace siderama {

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
