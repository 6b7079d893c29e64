#include "indexes/IndexFolder.h"

#include "core/Workspace.h"
#include "indexes/IndexCatalogue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace siderama {

IndexFolder::IndexFolder(QString path) : path_(std::move(path)) {}

QString IndexFolder::pathOf(const QString& fileName) const { return path_ + "/" + fileName; }

bool IndexFolder::has(const QString& fileName) const { return QFileInfo(pathOf(fileName)).isFile(); }

int IndexFolder::presentCount(const QStringList& fileNames) const {
    int count = 0;
    for (const QString& name : fileNames)
        if (has(name)) ++count;
    return count;
}

int IndexFolder::installedCount() const {
    int count = 0;
    for (const IndexKey& entry : FILES().entries()) count += presentCount(entry.files);
    return count;
}

bool IndexFolder::exists() const { return QFileInfo(path_).isDir(); }

bool IndexFolder::create() const { return QDir().mkpath(path_); }

bool IndexFolder::link(const QString& source, const QString& fileName) const {
    const QString target = pathOf(fileName);
    if (QFileInfo(target).isSymLink()) QFile::remove(target);
    return QFile::link(source, target);
}

bool IndexFolder::trash(const QString& fileName) const {
    const QString path = pathOf(fileName);
    // A link to a distribution file holds no data of its own: drop it.
    if (QFileInfo(path).isSymLink()) return QFile::remove(path);
    return Workspace::moveToTrash(path);
}

}  // namespace siderama
