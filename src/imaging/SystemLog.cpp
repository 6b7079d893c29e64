#include "imaging/SystemLog.h"

#include <QDateTime>

#include <cstdio>

namespace siderama {

void systemLog(const QString& line) {
    const QString stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    const QByteArray text = (stamp + " siderama: " + line + "\n").toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

}  // namespace siderama
