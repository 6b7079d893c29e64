#pragma once

#include <QString>
#include <optional>

namespace siderama {

enum class SolverStatus { ready, busy, done, failed };

// The status as the window shows it and the remote API sends it.
QString statusWord(SolverStatus status);

// The solver state shown to the user and to remote clients.
struct SolverState {
    SolverStatus status = SolverStatus::ready;
    QString message;  // last state message, without line feeds
    std::optional<double> raCenter;
    std::optional<double> decCenter;
    std::optional<double> orientation;
    std::optional<double> pixelScale;
    std::optional<double> imageWidth;  // pixels

    // Width of the solved field in degrees, when the calibration tells it.
    std::optional<double> fieldWidth() const {
        if (!pixelScale || !imageWidth) return std::nullopt;
        return *pixelScale * *imageWidth / 3600;
    }
};

}  // namespace siderama
