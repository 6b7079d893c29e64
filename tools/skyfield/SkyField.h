#pragma once

// Runs the skyfield generator (from tests and checks) and reads the truth it prints.

#include <QString>
#include <QStringList>

#include <optional>

namespace skyfield {

struct SkyFieldTruth {
    double ra;        // image centre, degrees
    double dec;
    double scale;     // arcsec per pixel
    double rotation;  // degrees, as passed to skyfield
    int width;
    int height;
    int stars;        // catalogue stars inside the image
};

// Path of the skyfield program built with the tests.
QString skyFieldExecutable();

// Runs skyfield with --ra, --dec, ... (`arguments`); none when it fails.
std::optional<SkyFieldTruth> runSkyField(const QStringList& arguments);

// Angle between two sky positions, in degrees.
double angularSeparation(double ra1, double dec1, double ra2, double dec2);

}  // namespace skyfield
