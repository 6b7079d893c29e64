#pragma once

#include <QPointF>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace siderama {

// A named object inside a solved image.
struct SkyObject {
    enum class Kind { star, deepSky };

    Kind kind;
    QStringList names;  // the common name first, catalogue names after
    QPointF position;   // image pixels, (0, 0) the top-left corner
    double radius = 0;  // pixels, the outline of a deep-sky object (0 for stars)
};

// The named objects and constellations in a solved image, as listed by the
// plate-solving suite's `plot-constellations -L -J` (named bright stars,
// NGC/IC objects and the constellations the field touches).
struct FieldObjects {
    std::vector<SkyObject> objects;
    QStringList constellations;  // e.g. "Orion (Ori)"

    // Runs plot-constellations from the tools directory on a WCS file;
    // none (and the reason in `error`) when it cannot run or its output does
    // not parse.
    static std::optional<FieldObjects> list(const QString& wcsFile, QString* error = nullptr);

    // The listing from plot-constellations' outputs: `json` is what -J
    // prints on standard error, `text` its standard output.
    static std::optional<FieldObjects> parse(const QByteArray& json, const QByteArray& text);
};

}  // namespace siderama
