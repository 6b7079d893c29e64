#pragma once

#include <QString>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace http {
class BodyFile;
}

namespace siderama {

// Where remote uploads are stored and under which names. Uploads are named
// by Siderama ("upload-XXXXXX.EXT"); a client's file name never reaches the
// disk or the tools.
class UploadFiles {
public:
    // The private upload directory of this user, without a final "/":
    // "siderama-<uid>" inside QDir::tempPath(), mode 0700, owned by the user.
    // Created when missing (the temporary directory too), its mode tightened
    // when it is the user's own; none when the name is taken by a link, a
    // file or another user, or when there is no temporary directory.
    static std::optional<QString> directory();
    // $TMPDIR, else Qt's temporary directory.
    static QString temporaryDirectory();

    // The client's file name reduced to a plain name (for the
    // astrometry.net API's submissions): its last path component, valid
    // UTF-8, no control characters, not starting with a dot and at most 255
    // bytes; none when nothing usable is left.
    static std::optional<QString> plainName(const std::string& requested);

    // Writes `data` (a stretch of `source`'s view, or other memory when
    // `source` is null) to a temporary file beside `path`, then renames it
    // onto `path`. False when any step fails.
    static bool writeAtomically(const QString& path, std::string_view data, http::BodyFile* source = nullptr);

    // Why a client's file name is refused ("" when it is fine): NUL bytes,
    // more than 255 bytes, not UTF-8.
    static QString nameProblem(std::string_view requested);

    // The extension of the image format recognised by the data's leading
    // bytes; "fits" for FITS or unknown data.
    static QString extensionFor(std::string_view leading);

    // Removes the files in `directory` unchanged for `age` or longer:
    // uploads a killed server left there.
    static void sweep(const QString& directory, std::chrono::seconds age);

    // Why an image whose data starts with `leading` is refused ("" when it
    // is not): a FITS image whose NAXIS1 × NAXIS2, read from the header cards
    // among those bytes, exceeds the user default "max-image-megapixels",
    // the bound the window's conversion holds other formats to.
    static QString sizeProblem(std::string_view leading);
    // As many leading bytes as sizeProblem() reads.
    static constexpr std::size_t headerBytes = 10 * 2880;

    // Bytes taken by the files in `directory` and its subdirectories.
    static qint64 usedSpace(const QString& directory);

    // The files of the solve of `upload`: the upload and what the solve
    // made beside it.
    static QStringList solveFiles(const QString& upload);
};

}  // namespace siderama
