#pragma once

#include <QString>
#include <stdexcept>

namespace siderama {

// An exclusive hold on a data folder for the object's life (a lock on the
// file "siderama.lock" in it, which names the holding process), so that two
// servers never work on the same jobs.
class FolderLock {
public:
    struct InUse : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // Throws InUse naming the process that holds the folder, or
    // std::runtime_error when the lock file cannot be opened.
    explicit FolderLock(const QString& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int descriptor = -1;
};

}  // namespace siderama
