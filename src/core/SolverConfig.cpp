#include "core/SolverConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace siderama {

QByteArray solverConfigText(const QString& folder) {
    return "cpulimit 300\nadd_path " + folder.toUtf8() + "\nautoindex\n";
}

bool writeSolverConfigIfMissing(const QString& folder, const QString& config) {
    if (QFileInfo::exists(config)) return true;
    if (!QDir().mkpath(folder)) return false;
    QSaveFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(solverConfigText(folder));
    return file.commit();
}

}  // namespace siderama
