#include "solver/SolveReservation.h"

namespace siderama {

SolveReservation SolveReservation::take(std::atomic<bool>& taken) {
    bool expected = false;
    return SolveReservation(taken.compare_exchange_strong(expected, true) ? &taken : nullptr);
}

SolveReservation& SolveReservation::operator=(SolveReservation&& other) noexcept {
    if (this != &other) {
        release();
        taken = std::exchange(other.taken, nullptr);
    }
    return *this;
}

void SolveReservation::release() {
    if (taken) std::exchange(taken, nullptr)->store(false);
}

}  // namespace siderama
