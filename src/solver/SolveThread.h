#pragma once

#include "solver/SolveOptions.h"
#include "solver/SolveReservation.h"

#include <QString>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace siderama {

// One solve asked for: the image, its options and the reservation of the
// solver.
struct SolveRequest {
    SolveReservation reservation;
    QString path;
    SolveOptions options;
};

// The thread that runs a solver's solves, made with the solver rather than
// by whoever asks: a thread (and the tools it starts) inherits its creator's
// niceness, and the HTTP connection threads run at the lowest priority.
class SolveThread {
public:
    explicit SolveThread(std::function<void(SolveRequest)> solve);
    // Waits for a running solve; one still waiting is dropped (and its
    // reservation released).
    ~SolveThread();
    SolveThread(const SolveThread&) = delete;
    SolveThread& operator=(const SolveThread&) = delete;

    // Hands the solve to the thread. The reservation guarantees that no
    // other request is waiting.
    void request(SolveRequest request);

private:
    void run();

    std::function<void(SolveRequest)> solve;
    std::mutex lock;
    std::condition_variable requested;
    std::optional<SolveRequest> waiting;  // guarded by `lock`
    bool stopping = false;                // guarded by `lock`
    std::thread thread;
};

}  // namespace siderama
