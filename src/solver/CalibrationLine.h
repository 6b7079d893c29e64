#pragma once

#include <QString>
#include <optional>

namespace siderama {

// One of the four calibration lines that wcsinfo prints:
// "ra_center ", "dec_center ", "orientation " or "pixscale " and a number.
struct CalibrationLine {
    enum class Field { raCenter, decCenter, orientation, pixelScale };

    Field field;
    std::optional<double> number;  // nullopt when the value is not a number

    // The calibration value of a line; nullopt for any other line.
    static std::optional<CalibrationLine> parse(const QString& line);
};

}  // namespace siderama
