#pragma once

#include "solver/SolveQueue.h"

#include <QString>
#include <optional>
#include <vector>

namespace siderama {

class SkyWcs;

// The calibration of a solved image under the remote API's member names.
struct Calibration {
    double ra, dec;        // centre, degrees
    double radius;         // degrees, centre to corner
    double pixscale;       // arcseconds per pixel
    double orientation;    // degrees, the suite's (180 for north up)
    int parity;            // 1 as seen on the sky, -1 mirrored
    double width_arcsec, height_arcsec;

    static Calibration of(const SkyWcs& wcs);
};

// Sexagesimal forms of a centre: "05:35:16.80" and "−05:23:24.0".
QString hoursMinutesSeconds(double ra);
QString degreesMinutesSeconds(double dec);

// Summaries of queued files for terminals and scripts.
// One line: "FILE: solved RA … Dec … scale …″/px up …° E of N in N s" or
// "FILE: failed: MESSAGE".
QString summaryLine(const QueueEntry& entry);
// One JSON object on one line: "file", "status", the calibration's members
// beside them and "quality" (SolutionQuality) when solved, "message" when not, and "seconds".
QString summaryJson(const QueueEntry& entry);
// A CSV table with a header row: file, state, ra, dec, pixscale,
// orientation, up_east_of_north, seconds, message (RFC 4180 quoting).
QString summaryCsv(const std::vector<QueueEntry>& entries);

}  // namespace siderama
