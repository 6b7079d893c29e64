#pragma once

#include <QString>

namespace siderama {

// An exclusive hold on a data folder for the object's life (a lock on the
// file "siderama.lock" in it, which names the holding process), so that two
// servers never work on the same jobs.
class FolderLock {
public:
    // Throws std::runtime_error naming the process that holds the folder.
    explicit FolderLock(const QString& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int descriptor = -1;
};

}  // namespace siderama
