#include "core/SolverConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace siderama {

QByteArray solverConfigText(const QString& folder) {
    return "cpulimit 300\nadd_path " + folder.toUtf8() + "\nautoindex\n";
}

bool writeSolverConfigIfMissing(const QString& folder, const QString& config, QString* reason) {
    if (QFileInfo::exists(config)) return true;
    QString cause = "cannot create the folder " + folder;
    if (QDir().mkpath(folder)) {
        QSaveFile file(config);
        if (file.open(QIODevice::WriteOnly) && file.write(solverConfigText(folder)) >= 0 && file.commit()) return true;
        cause = file.errorString();
    }
    if (reason) *reason = cause;
    return false;
}

}  // namespace siderama
