#include "indexes/IndexLog.h"

#include <QDateTime>

#include <cstdio>

namespace siderama {

void indexLog(const QString& line) {
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz");
    std::fprintf(stderr, "%s siderama: %s\n", qPrintable(stamp), qPrintable(line));
    std::fflush(stderr);
}

}  // namespace siderama
