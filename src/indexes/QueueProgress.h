#pragma once

#include "indexes/TransferProgress.h"
#include "indexes/TransferRate.h"

#include <QElapsedTimer>
#include <QList>

#include <optional>

namespace siderama {

// The bytes of a download queue for the views' progress lines: the file in
// transfer, the whole queue (the sizes known so far, completed by each
// file's announced length) and the rate.
class QueueProgress {
public:
    static constexpr qint64 intervalMs = 100;

    // A new queue; the sizes known of its files (-1: not known).
    void begin(const QList<qint64>& sizes);
    // The next file starts; the size known of it before (-1: not known).
    void fileStarted(qint64 knownSize);
    // Its length as the server announced it.
    void fileResponded(qint64 length);
    // Bytes of the file held and bytes the queue fetched so far: what to
    // show, at most every intervalMs unless forced or the file is complete.
    std::optional<TransferProgress> received(qint64 held, qint64 fetched, bool force = false);

private:
    TransferRate rate_;
    QElapsedTimer sinceShown_;
    qint64 total_ = 0;
    qint64 finished_ = 0;   // bytes of the files done
    qint64 fileSize_ = -1;
    qint64 fileKnown_ = -1;  // the size known before the answer
    bool started_ = false;
};

}  // namespace siderama
