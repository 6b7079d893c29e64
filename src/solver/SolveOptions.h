#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace siderama {

// What a person (or a remote client) tells the solver about one solve: a
// scale range, a position, a downsampling factor, a wall-clock time limit
// and whether strategies are raced. Scale and position are hints: they shape
// the first, narrow attempt, and the blind strategies still run after it.
struct SolveOptions {
    // solve-field's names: arcsecperpix, degwidth, arcminwidth.
    QString scaleUnits = "degwidth";
    std::optional<double> scaleLow, scaleHigh;
    std::optional<double> ra, dec;  // degrees
    std::optional<double> radius;   // degrees
    int downsample = 0;             // 0: the strategy chooses
    int timeLimit = 300;            // seconds for the whole solve
    bool racing = true;
    // solve-field words for every attempt, after the stored ones (a remote
    // client's parity, tweak order, ...); not kept in the user defaults.
    QStringList extraWords;
    // Write the solution into a FITS input's own header (other formats keep
    // NAME_wcs.fits); not kept with the panel's values.
    bool writeWcsHeaders = false;
    // The solve's files go to a private folder removed when it ends: only
    // the result (and the header written into the input) stays.
    bool scratchFiles = false;

    bool hasScale() const { return scaleLow && scaleHigh; }
    bool hasPosition() const { return ra && dec; }
    // The scale range in arcseconds per pixel for an image `width` pixels wide.
    std::optional<std::pair<double, double>> arcsecPerPixel(int width) const;

    // A problem with the values ("" when they are sound).
    QString validate() const;

    // Sets one option by its name, as the terminal flags and the settings
    // name them: scale-units, scale-low, scale-high, ra, dec, radius,
    // downsample, time-limit, racing (on/off). Returns what is wrong with the
    // value, or "".
    QString set(const QString& name, const QString& value);
    static const QStringList names;

    // The user defaults (the options panel); missing values read as unset.
    static SolveOptions load();
    void save() const;
};

}  // namespace siderama
