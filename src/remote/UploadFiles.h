#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <string>

namespace siderama {

// Where remote uploads are stored and under which names.
class UploadFiles {
public:
    // The private upload directory of this user, ending with "/":
    // "siderama-<uid>" inside QDir::tempPath(), mode 0700, owned by the user.
    // Created when missing, its mode tightened when it is the user's own;
    // none when the name is taken by a link, a file or another user.
    static std::optional<QString> directory();

    // The client's file name reduced to a plain name: its last path
    // component, valid UTF-8, no control characters, not starting with a dot
    // and at most 255 bytes; none when nothing usable is left.
    static std::optional<QString> plainName(const std::string& requested);

    // "image.fits" for FITS or unknown data, otherwise "image." plus the
    // extension of the image format recognised by the data's leading bytes.
    static QString defaultName(const std::string& data);

    // Writes `data` to a temporary file beside `path`, then renames it onto
    // `path`. False when any step fails.
    static bool writeAtomically(const QString& path, const std::string& data);
};

}  // namespace siderama
