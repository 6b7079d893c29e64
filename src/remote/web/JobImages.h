#pragma once

#include "remote/api/JobFolders.h"

#include <QByteArray>
#include <optional>

namespace siderama {

// The pictures of a solved job that its page shows: the image with the
// stars the extraction found (red circles) and, for the match, the
// catalogue stars the solution matched (green circles); and the sky maps
// of where the field lies (SkyMap). Made on first request and kept in the
// job's folder.
class JobImages {
public:
    enum class Stars { extraction, redGreen };

    explicit JobImages(JobFolders folders) : folders(std::move(folders)) {}

    // JPEG; none when the job has no solution or its files are gone.
    std::optional<QByteArray> stars(int job, int submission, Stars kind) const;
    // PNG of SkyMap zoom `zoom`; none for another zoom or without a solution.
    std::optional<QByteArray> skyPlot(int job, int zoom) const;

private:
    JobFolders folders;
};

}  // namespace siderama
