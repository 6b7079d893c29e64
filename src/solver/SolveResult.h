#pragma once

#include "solver/ConstellationFigures.h"
#include "solver/FieldObjects.h"
#include "solver/SkyGrid.h"
#include "solver/SkyWcs.h"
#include "solver/SolutionQuality.h"

#include <QPointF>
#include <QString>
#include <optional>
#include <vector>

namespace siderama {

struct SolvePaths;

// A star of the index that the solution matched to a star found in the image.
struct MatchedStar {
    SkyPoint sky;       // the catalogue position
    QPointF catalogue;  // where the solution puts it, image pixels
    QPointF detected;   // the star found in the image, image pixels
};

// Everything the result view and the summaries show of one solve, read from
// the tools' files before they are cleaned up.
struct SolveResult {
    QString input;     // the file the user gave
    bool solved = false;
    QString message;   // "Done in N seconds" or the failure
    double seconds = 0;
    std::optional<SkyWcs> wcs;
    std::vector<QPointF> detectedStars;   // image2xy's list, image pixels
    std::vector<MatchedStar> matchedStars;
    std::optional<SolutionQuality> quality;
    FieldObjects objects;
    std::vector<GridLine> grid;
    std::vector<ConstellationFigure> constellations;
    QStringList problems;  // what could not be read, for the log

    // Reads the solution, the star lists and the named objects of a
    // finished solve (`solved` true) or the star list of a failed one.
    static SolveResult collect(const SolvePaths& paths, bool solved);
};

}  // namespace siderama
