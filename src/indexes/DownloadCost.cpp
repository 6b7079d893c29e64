#include "indexes/DownloadCost.h"

#include "indexes/TransferProgress.h"

namespace siderama {

QString DownloadCost::describe() const {
    QString text = QString("%1 %2, %3")
                       .arg(files.size())
                       .arg(files.size() == 1 ? "file" : "files", TransferProgress::bytes(total));
    if (unknown > 0) text += QString(" (%1 %2 not known yet)").arg(unknown).arg(unknown == 1 ? "size" : "sizes");
    if (free >= 0) text += ", " + TransferProgress::bytes(free) + " free";
    return text;
}

QString DownloadCost::shortage(const QString& folder) const {
    return QString("Not enough space in %1: %2 to download, %3 free")
        .arg(folder, TransferProgress::bytes(total), TransferProgress::bytes(free));
}

}  // namespace siderama
