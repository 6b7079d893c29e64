#pragma once

#include <QString>

namespace siderama {

// Where a download queue stands: the file in transfer, the whole queue
// (the sizes known so far) and the current rate.
struct TransferProgress {
    qint64 fileDone = 0;
    qint64 fileTotal = -1;  // -1: not known
    qint64 queueDone = 0;
    qint64 queueTotal = 0;
    double rate = 0;  // bytes per second; 0 until measured

    // Seconds left at the current rate; -1 when that cannot be told.
    qint64 fileSecondsLeft() const;
    qint64 queueSecondsLeft() const;
    // "12.3 MB of 280 MB, 4.1 MB/s, 1 min 05 s left; queue 1.2 GB of 3.4 GB, 9 min left"
    QString describe() const;

    // "280 MB", "3.4 GB" (powers of 1000, like the server's sizes).
    static QString bytes(qint64 count);
    // "45 s", "1 min 05 s", "2 h 10 min".
    static QString duration(qint64 seconds);
};

}  // namespace siderama
