#pragma once

#include <QString>
#include <optional>

namespace siderama {

// What tells one version of a file from another: its size, modification
// time and inode. A frame replaced by a new file of the same name, or
// rewritten in place, gets another identity.
struct FileIdentity {
    qint64 size = 0;
    qint64 modifiedNs = 0;  // nanoseconds since the epoch
    quint64 inode = 0;

    // None when the path names no regular file.
    static std::optional<FileIdentity> of(const QString& path);
    bool operator==(const FileIdentity&) const = default;
};

}  // namespace siderama
