#pragma once

#include <QString>

namespace siderama {

// Whether a process of this machine holds a file open for writing, read
// from /proc (the processes this user may inspect): a camera program that
// pauses half way through a frame still has it open.
class FileWriters {
public:
    static bool isOpenForWriting(const QString& path);
};

}  // namespace siderama
