#include "imaging/FitsPath.h"

#include <QFileInfo>

namespace siderama {

bool isFitsPath(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == "fit" || suffix == "fits" || suffix == "fts";
}

}  // namespace siderama
