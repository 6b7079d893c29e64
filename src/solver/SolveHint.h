#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

namespace siderama {

// A starting point for the first, narrow attempt: a pixel-scale window and
// perhaps a position, with where each came from (for the log).
struct SolveHint {
    std::optional<std::pair<double, double>> scale;  // arcseconds per pixel, low and high
    std::optional<double> ra, dec, radius;           // degrees
    QStringList sources;

    bool isUsable() const { return scale.has_value(); }
    // Fills what this hint lacks from `other`.
    void complete(const SolveHint& other);
    // solve-field options for the window and position.
    QStringList arguments() const;
    QString describe() const;
};

// A window of ±`tolerance` (a fraction) around a pixel scale.
std::pair<double, double> scaleWindow(double arcsecPerPixel, double tolerance);

}  // namespace siderama
