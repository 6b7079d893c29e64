#include "indexes/IndexSizes.h"

#include "indexes/IndexServer.h"

#include <QSettings>
#include <QStandardPaths>

namespace siderama {

namespace {

// QSettings keys hold no slashes: the location is percent-encoded whole.
QString keyOf(const QString& fileName) {
    const auto location = IndexServer::locationOf(fileName);
    return location ? QString::fromLatin1(QUrl::toPercentEncoding(location->toString())) : QString();
}

}  // namespace

IndexSizes::IndexSizes()
    : path_(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/Siderama/index-sizes.ini") {
    const QSettings settings(path_, QSettings::IniFormat);
    for (const QString& key : settings.childKeys()) sizes_.insert(key, settings.value(key).toLongLong());
}

qint64 IndexSizes::sizeOf(const QString& fileName) const { return sizes_.value(keyOf(fileName), -1); }

void IndexSizes::remember(const QString& fileName, qint64 size) {
    const QString key = keyOf(fileName);
    if (key.isEmpty() || size < 0 || sizes_.value(key, -1) == size) return;
    sizes_.insert(key, size);
    QSettings settings(path_, QSettings::IniFormat);
    settings.setValue(key, size);
}

}  // namespace siderama
