#pragma once

#include <QHash>
#include <QString>

namespace siderama {

// The sizes of index files as the index-file server announced them,
// remembered per download location in the user's cache directory
// (~/.cache/Siderama/index-sizes.ini), so that the manager can show them
// without asking again.
class IndexSizes {
public:
    IndexSizes();

    // The remembered size of the file at its current download location, or -1.
    qint64 sizeOf(const QString& fileName) const;
    void remember(const QString& fileName, qint64 size);

private:
    QString path_;
    QHash<QString, qint64> sizes_;  // by location
};

}  // namespace siderama
