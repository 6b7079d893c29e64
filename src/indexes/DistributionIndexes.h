#pragma once

#include <QString>

#include <optional>

namespace siderama {

// Index files that the distribution's astrometry-data packages installed,
// by default in /usr/share/astrometry ($SIDERAMA_DISTRIBUTION_INDEX_DIR
// overrides it). A catalogue file is found there under its own name or, for
// the Tycho-2 files 4107 to 4119, as index-tycho2-NN.<byte order>.fits.
class DistributionIndexes {
public:
    explicit DistributionIndexes(QString directory);
    static DistributionIndexes fromEnvironment();

    // Path of the installed file for a catalogue file name, when there is one.
    std::optional<QString> sourceOf(const QString& fileName) const;

private:
    QString directory_;
};

}  // namespace siderama
