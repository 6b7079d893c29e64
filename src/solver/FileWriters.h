#pragma once

#include <QString>
#include <set>
#include <utility>

namespace siderama {

// Whether a process of this machine holds a file open for writing, read
// from /proc (the processes this user may inspect): a camera program that
// pauses half way through a frame still has it open.
class FileWriters {
public:
    // One look at every process, for many files at once.
    static FileWriters scan();
    bool isOpenForWriting(const QString& path) const;

private:
    std::set<std::pair<quint64, quint64>> files;  // device and inode
};

}  // namespace siderama
