#include "solver/SolveResult.h"

#include "imaging/FitsTable.h"
#include "solver/SolvePaths.h"

#include <QFile>

namespace siderama {

namespace {

void readDetected(const SolvePaths& paths, SolveResult& result) {
    QString error;
    const auto columns = readFitsColumns(paths.xyList, {"X", "Y"}, &error);
    if (!columns) {
        result.problems << error;
        return;
    }
    for (size_t i = 0; i < (*columns)[0].size(); ++i)
        result.detectedStars.push_back(fromFitsPixel((*columns)[0][i], (*columns)[1][i]));
}

void readMatched(const QString& corrFile, SolveResult& result) {
    QString error;
    const auto columns = readFitsColumns(corrFile, {"field_x", "field_y", "index_ra", "index_dec"}, &error);
    if (!columns) {
        result.problems << error;
        return;
    }
    const auto& c = *columns;
    for (size_t i = 0; i < c[0].size(); ++i) {
        const SkyPoint sky{c[2][i], c[3][i]};
        const std::optional<QPointF> catalogue = result.wcs->toPixel(sky);
        if (catalogue) result.matchedStars.push_back({sky, *catalogue, fromFitsPixel(c[0][i], c[1][i])});
    }
}

void readSolution(const SolvePaths& paths, SolveResult& result) {
    QFile file(paths.wcs);
    if (file.open(QIODevice::ReadOnly)) result.wcs = SkyWcs::fromHeader(file.readAll());
    if (!result.wcs) {
        result.problems << "cannot read the solution in " + paths.wcs;
        return;
    }
    readMatched(paths.base + ".corr", result);
    result.quality = SolutionQuality::read(paths.base);
    QString error;
    if (auto objects = FieldObjects::list(paths.wcs, &error)) result.objects = std::move(*objects);
    else result.problems << error;
    result.grid = skyGrid(*result.wcs);
    result.constellations = constellationFigures(*result.wcs);
}

}  // namespace

SolveResult SolveResult::collect(const SolvePaths& paths, bool solved) {
    SolveResult result;
    result.input = paths.input;
    result.solved = solved;
    if (QFile::exists(paths.xyList)) readDetected(paths, result);
    if (solved) readSolution(paths, result);
    return result;
}

}  // namespace siderama
