#pragma once

#include "solver/SkyWcs.h"

#include <QString>
#include <utility>
#include <vector>

namespace siderama {

// A constellation's stick figure on the sky, from the plate-solving suite's
// constellation table.
struct ConstellationOnSky {
    QString name;   // e.g. "Orion"
    std::vector<std::pair<SkyPoint, SkyPoint>> lines;
};

// Every constellation of the table, read once.
const std::vector<ConstellationOnSky>& constellationTable();

}  // namespace siderama
