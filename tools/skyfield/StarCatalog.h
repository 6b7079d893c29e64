#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace skyfield {

struct Star {
    double ra;    // degrees
    double dec;   // degrees
    double magnitude;
};

// The distribution's Tycho-2 index files (4110-4119).
QStringList defaultIndexFiles();

// Stars within `radius` degrees of (ra, dec) from every index file, found
// with query-starkd. A star listed by several files is kept once. Throws
// std::runtime_error when query-starkd cannot be run.
std::vector<Star> queryStars(const QStringList& indexFiles, double ra, double dec, double radius);

}  // namespace skyfield
