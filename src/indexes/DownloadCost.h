#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace siderama {

// What applying the ticked keys would download, and the room for it.
struct DownloadCost {
    QList<QPair<QString, qint64>> files;  // to download, with their sizes (-1: not known yet)
    qint64 total = 0;                     // bytes still to fetch for the known sizes
    int unknown = 0;                      // files whose size is not known yet
    qint64 free = -1;                     // bytes free in the index directory (-1: not known)

    bool fits() const { return free < 0 || total <= free; }
    // "3 files, 1.2 GB (1 size not known yet), 50.1 GB free"
    QString describe() const;
    // "Not enough space in FOLDER: 3.4 GB to download, 1.2 GB free"
    QString shortage(const QString& folder) const;
};

}  // namespace siderama
