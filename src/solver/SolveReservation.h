#pragma once

#include <atomic>
#include <utility>

namespace siderama {

// The right to start one solve on a solver. Move-only; whoever holds it last
// frees the solver, by release() or when it is destroyed, so a reservation
// lost on the way (an exception, a refused upload) never leaves it busy.
class SolveReservation {
public:
    SolveReservation() = default;
    // Takes the solver whose busy flag is `taken`; empty when it was taken already.
    static SolveReservation take(std::atomic<bool>& taken);

    SolveReservation(SolveReservation&& other) noexcept : taken(std::exchange(other.taken, nullptr)) {}
    SolveReservation& operator=(SolveReservation&& other) noexcept;
    ~SolveReservation() { release(); }

    explicit operator bool() const { return taken != nullptr; }
    void release();

private:
    explicit SolveReservation(std::atomic<bool>* taken) : taken(taken) {}

    std::atomic<bool>* taken = nullptr;
};

}  // namespace siderama
