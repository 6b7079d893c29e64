#pragma once

#include <QString>
#include <optional>

namespace siderama {

// The solver state shown to the user and to remote clients.
struct SolverState {
    QString status = "ready";  // ready, busy, done or failed
    QString message;           // last state message, without line feeds
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
