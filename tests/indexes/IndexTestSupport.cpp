#include "indexes/IndexTestSupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

IndexTestDirectories::IndexTestDirectories() {
    QDir().mkpath(folder());
    QDir().mkpath(distribution());
}

QStringList IndexTestDirectories::entries() const {
    return QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

static void writeTo(const QString& path, const QByteArray& content) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
}

void IndexTestDirectories::write(const QString& fileName, const QByteArray& content) const {
    writeTo(folder() + "/" + fileName, content);
}

QByteArray IndexTestDirectories::read(const QString& fileName) const {
    QFile file(folder() + "/" + fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void IndexTestDirectories::writeDistribution(const QString& fileName, const QByteArray& content) const {
    writeTo(distribution() + "/" + fileName, content);
}

QStringList trashedFiles() {
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
    return QDir(trash).entryList(QDir::Files | QDir::NoDotAndDotDot);
}
