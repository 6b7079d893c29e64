#pragma once

#include "remote/api/JobFolders.h"

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace siderama {

// The named stars, NGC/IC objects and constellations in a solved job's
// field, and the image with them drawn on it, from the suite's
// plot-constellations. Made on first request and kept in the job directory.
class SkyObjects {
public:
    explicit SkyObjects(JobFolders folders) : folders(std::move(folders)) {}

    // Entries {type, names, pixelx, pixely, radius} with FITS pixel positions,
    // as the suite prints them; empty when none were found.
    nlohmann::json annotations(int job) const;
    // Every name of every annotation ("ι Ori / 44 Ori" gives two), then the
    // constellations, once each, in order.
    std::vector<std::string> names(int job) const;
    // The job's image (`original`, the upload; or a black field of the given
    // size for a star list) as JPEG with the objects, constellation lines and
    // bright stars drawn on it.
    std::optional<QByteArray> annotatedImage(int job, const QString& original, int width, int height) const;

private:
    nlohmann::json listing(int job) const;

    JobFolders folders;
};

}  // namespace siderama
