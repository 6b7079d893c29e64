#pragma once

#include <QString>
#include <optional>

namespace siderama {

// What wcsinfo says about a solution: the centre, the pixel scale at the
// reference pixel and the field's size (0 when not given). A solution
// wcsinfo cannot read, or without a centre, is no solution.
struct WcsSummary {
    double ra = 0, dec = 0;     // degrees, image centre
    double pixelScale = 0;      // arcseconds per pixel
    double fieldWidth = 0;      // degrees
    double fieldHeight = 0;     // degrees
    QString text;               // wcsinfo's whole output

    // Runs wcsinfo from the tools directory on `wcsFile`.
    static std::optional<WcsSummary> read(const QString& wcsFile);
    // Parses wcsinfo's "key value" lines.
    static std::optional<WcsSummary> parse(const QString& output);
};

}  // namespace siderama
