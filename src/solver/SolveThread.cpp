#include "solver/SolveThread.h"

#include <utility>

namespace siderama {

SolveThread::SolveThread(std::function<void(SolveRequest)> solve)
    : solve(std::move(solve)), thread([this] { run(); }) {}

SolveThread::~SolveThread() {
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    requested.notify_one();
    thread.join();
}

void SolveThread::request(SolveRequest request) {
    {
        std::lock_guard guard(lock);
        waiting = std::move(request);
    }
    requested.notify_one();
}

void SolveThread::run() {
    std::unique_lock guard(lock);
    for (;;) {
        requested.wait(guard, [this] { return stopping || waiting; });
        if (stopping) return;
        SolveRequest next = std::move(*std::exchange(waiting, std::nullopt));
        guard.unlock();
        solve(std::move(next));
        guard.lock();
    }
}

}  // namespace siderama
