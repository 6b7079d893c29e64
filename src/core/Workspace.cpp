#include "core/Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace siderama::Workspace {

bool moveToTrash(const QString& path) {
    if (!QFileInfo::exists(path)) return false;
    // Qt puts the Trash under the data directory and misplaces the file
    // into a relative "files/" folder when that directory does not exist.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    QFile file(path);
    if (!file.moveToTrash()) return false;
    return QFileInfo(file.fileName()).isAbsolute();
}

int moveToTrash(const QStringList& paths) {
    int moved = 0;
    for (const QString& path : paths)
        if (moveToTrash(path)) ++moved;
    return moved;
}

}  // namespace siderama::Workspace
