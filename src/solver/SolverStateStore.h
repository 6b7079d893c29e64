#pragma once

#include "solver/CalibrationLine.h"
#include "solver/SolverState.h"

#include <mutex>

namespace siderama {

class SolveReservation;

// The solver state, read and changed from any thread.
class SolverStateStore {
public:
    SolverState state() const;
    // Sets the status and, when given, the message (line feeds removed).
    void setStatus(SolverStatus status, const std::optional<QString>& message);
    void setCalibration(const CalibrationLine& line);
    void resetCalibration();
    // Sets the final status of a solve and frees the solver in one step, so
    // a client that reads it can start the next solve at once.
    void finish(SolverStatus status, const QString& message, SolveReservation& reservation);

private:
    mutable std::mutex lock;
    SolverState current;
};

}  // namespace siderama
