#pragma once

#include "core/Constants.h"
#include "solver/CalibrationLine.h"

#include <QString>
#include <optional>

namespace siderama {

// Where a solve reports its progress: the log lines, the busy state with its
// message and the calibration values. Each concurrent solve has its own.
// Called from the solve's thread.
class SolveReporter {
public:
    virtual ~SolveReporter() = default;

    virtual void append(const QString& text, LogColor color = LogColor::plain) = 0;
    // The solve is busy; a message is logged in yellow and shown as the state's.
    virtual void busy(const std::optional<QString>& message = std::nullopt) = 0;
    virtual void setCalibration(const CalibrationLine& line) = 0;
    virtual void resetCalibration() = 0;
};

}  // namespace siderama
