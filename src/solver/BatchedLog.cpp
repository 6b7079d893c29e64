#include "solver/BatchedLog.h"

#include <QMetaObject>
#include <algorithm>
#include <iterator>

namespace siderama {

namespace {

// The rest follows in the next turn of the event loop.
constexpr size_t commandsPerFlush = 5000;

}  // namespace

void BatchedLog::post(std::function<void()> command) {
    std::lock_guard guard(lock);
    pending.push_back(std::move(command));
    if (flushPosted) return;
    flushPosted = true;
    scheduleFlush();
}

void BatchedLog::scheduleFlush() {
    QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
}

void BatchedLog::flush() {
    std::vector<std::function<void()>> batch;
    {
        std::lock_guard guard(lock);
        const size_t count = std::min(pending.size(), commandsPerFlush);
        batch.assign(std::make_move_iterator(pending.begin()), std::make_move_iterator(pending.begin() + count));
        pending.erase(pending.begin(), pending.begin() + count);
        if (pending.empty()) flushPosted = false;
        else scheduleFlush();
    }
    for (auto& command : batch) command();
    afterBatch();
}

}  // namespace siderama
