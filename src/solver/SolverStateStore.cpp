#include "solver/SolverStateStore.h"

#include "solver/SolveReservation.h"

namespace siderama {

SolverState SolverStateStore::state() const {
    std::lock_guard guard(lock);
    return current;
}

void SolverStateStore::setStatus(SolverStatus status, const std::optional<QString>& message) {
    std::lock_guard guard(lock);
    current.status = status;
    if (message) current.message = QString(*message).remove('\n');
}

void SolverStateStore::setCalibration(const CalibrationLine& line) {
    std::lock_guard guard(lock);
    std::optional<double>* fields[] = {&current.raCenter, &current.decCenter, &current.orientation,
                                       &current.pixelScale, &current.imageWidth};
    *fields[static_cast<int>(line.field)] = line.number;
}

void SolverStateStore::resetCalibration() {
    std::lock_guard guard(lock);
    current.raCenter = current.decCenter = current.orientation = current.pixelScale = current.imageWidth = std::nullopt;
}

void SolverStateStore::finish(SolverStatus status, const QString& message, SolveReservation& reservation) {
    std::lock_guard guard(lock);
    current.status = status;
    current.message = QString(message).remove('\n');
    reservation.release();
}

}  // namespace siderama
