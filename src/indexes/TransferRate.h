#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPair>

namespace siderama {

// The rate of a transfer over the last few seconds, from the running count
// of bytes fetched.
class TransferRate {
public:
    static constexpr qint64 windowMs = 5000;

    void restart();
    // Records the running count of bytes fetched.
    void sample(qint64 fetched);
    // Bytes per second over the window; 0 before two samples.
    double bytesPerSecond() const;

private:
    QElapsedTimer clock_;
    QList<QPair<qint64, qint64>> samples_;  // milliseconds, bytes
};

}  // namespace siderama
