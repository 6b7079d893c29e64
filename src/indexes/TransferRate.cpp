#include "indexes/TransferRate.h"

namespace siderama {

void TransferRate::restart() {
    clock_.start();
    samples_.clear();
}

void TransferRate::sample(qint64 fetched) {
    if (!clock_.isValid()) clock_.start();
    const qint64 now = clock_.elapsed();
    samples_.append({now, fetched});
    while (samples_.size() > 2 && now - samples_[1].first >= windowMs) samples_.removeFirst();
}

double TransferRate::bytesPerSecond() const {
    if (samples_.size() < 2) return 0;
    const qint64 ms = samples_.last().first - samples_.first().first;
    return ms > 0 ? (samples_.last().second - samples_.first().second) * 1000.0 / ms : 0;
}

}  // namespace siderama
