#include "indexes/TransferProgress.h"

#include <QLocale>

#include <cmath>

namespace siderama {

namespace {

qint64 secondsFor(qint64 left, double rate) { return rate > 0 && left >= 0 ? qint64(std::ceil(left / rate)) : -1; }

QString amountOf(qint64 done, qint64 total) {
    return total >= 0 ? TransferProgress::bytes(done) + " of " + TransferProgress::bytes(total)
                      : TransferProgress::bytes(done);
}

QString left(qint64 seconds) { return seconds >= 0 ? ", " + TransferProgress::duration(seconds) + " left" : QString(); }

}  // namespace

qint64 TransferProgress::fileSecondsLeft() const { return fileTotal < 0 ? -1 : secondsFor(fileTotal - fileDone, rate); }

qint64 TransferProgress::queueSecondsLeft() const { return secondsFor(queueTotal - queueDone, rate); }

QString TransferProgress::describe() const {
    QString text = amountOf(fileDone, fileTotal);
    if (rate > 0) text += ", " + bytes(qint64(rate)) + "/s";
    text += left(fileSecondsLeft());
    return text + "; queue " + amountOf(queueDone, queueTotal) + left(queueSecondsLeft());
}

QString TransferProgress::bytes(qint64 count) {
    return QLocale::c().formattedDataSize(count, count < 1000 * 1000 ? 0 : 1, QLocale::DataSizeSIFormat);
}

QString TransferProgress::duration(qint64 seconds) {
    if (seconds < 60) return QString("%1 s").arg(seconds);
    if (seconds < 3600) return QString("%1 min %2 s").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
    return QString("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60, 2, 10, QChar('0'));
}

}  // namespace siderama
