#include "indexes/QueueProgress.h"

namespace siderama {

void QueueProgress::begin(const QList<qint64>& sizes) {
    total_ = finished_ = 0;
    for (qint64 size : sizes) total_ += qMax<qint64>(size, 0);
    started_ = false;
    rate_.restart();
}

void QueueProgress::fileStarted(qint64 knownSize) {
    if (started_) finished_ += qMax<qint64>(fileSize_, 0);
    started_ = true;
    fileSize_ = fileKnown_ = knownSize;
}

void QueueProgress::fileResponded(qint64 length) {
    total_ += length - qMax<qint64>(fileKnown_, 0);
    fileKnown_ = fileSize_ = length;
}

std::optional<TransferProgress> QueueProgress::received(qint64 held, qint64 fetched, bool force) {
    rate_.sample(fetched);
    const bool complete = fileSize_ >= 0 && held >= fileSize_;
    if (!force && !complete && sinceShown_.isValid() && sinceShown_.elapsed() < intervalMs) return std::nullopt;
    sinceShown_.start();
    return TransferProgress{held, fileSize_, finished_ + held, total_, rate_.bytesPerSecond()};
}

}  // namespace siderama
