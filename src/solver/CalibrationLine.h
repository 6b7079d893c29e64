#pragma once

#include <QString>
#include <optional>

namespace siderama {

// One of the calibration lines that wcsinfo prints: "ra_center ",
// "dec_center ", "orientation ", "pixscale " and a number, the four shown
// in green, or "imagew " (the image width, kept for the field's width).
struct CalibrationLine {
    enum class Field { raCenter, decCenter, orientation, pixelScale, imageWidth };

    Field field;
    std::optional<double> number;  // nullopt when the value is not a number

    bool highlighted() const { return field != Field::imageWidth; }

    // The calibration value of a line; nullopt for any other line.
    static std::optional<CalibrationLine> parse(const QString& line);
};

}  // namespace siderama
