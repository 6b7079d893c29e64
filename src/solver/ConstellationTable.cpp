#include "solver/ConstellationTable.h"

extern "C" {
#include "astrometry/constellations.h"
}

namespace siderama {

namespace {

SkyPoint star(int index) {
    SkyPoint sky{};
    constellations_get_star_radec(index, &sky.ra, &sky.dec);
    return sky;
}

std::vector<ConstellationOnSky> readTable() {
    std::vector<ConstellationOnSky> table;
    for (int c = 0; c < constellations_n(); ++c) {
        ConstellationOnSky figure{QString::fromUtf8(constellations_get_longname(c)), {}};
        for (int l = 0; l < constellations_get_nlines(c); ++l) {
            int first = 0, second = 0;
            constellations_get_line(c, l, &first, &second);
            figure.lines.emplace_back(star(first), star(second));
        }
        table.push_back(std::move(figure));
    }
    return table;
}

}  // namespace

const std::vector<ConstellationOnSky>& constellationTable() {
    static const std::vector<ConstellationOnSky> table = readTable();
    return table;
}

}  // namespace siderama
