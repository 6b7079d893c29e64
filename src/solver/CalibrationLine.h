#pragma once

#include <QString>
#include <optional>

namespace siderama {

// One of the calibration lines that wcsinfo prints: "ra_center ",
// "dec_center ", "orientation ", "pixscale " or "imagew " and a number.
struct CalibrationLine {
    enum class Field { raCenter, decCenter, orientation, pixelScale, imageWidth };

    Field field;
    std::optional<double> number;  // nullopt when the value is not a number

    // The calibration value of a line; nullopt for any other line.
    static std::optional<CalibrationLine> parse(const QString& line);
};

}  // namespace siderama
