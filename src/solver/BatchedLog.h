#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <vector>

namespace siderama {

// Commands posted from any thread and applied on the thread that owns the
// log, in the order they were posted, a batch per turn of its event loop:
// a verbose tool never freezes the window, and `afterBatch` (e.g. one scroll
// to the end) runs once per batch.
class BatchedLog : public QObject {
public:
    explicit BatchedLog(std::function<void()> afterBatch) : afterBatch(std::move(afterBatch)) {}

    void post(std::function<void()> command);

private:
    void flush();
    void scheduleFlush();

    std::function<void()> afterBatch;
    std::mutex lock;
    std::vector<std::function<void()>> pending;  // guarded by `lock`
    bool flushPosted = false;                    // guarded by `lock`
};

}  // namespace siderama
