#include "remote/api/FolderLock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace siderama {

namespace {

std::string holderOf(int descriptor) {
    char text[32] = {};
    const ssize_t length = ::pread(descriptor, text, sizeof text - 1, 0);
    const std::string pid = length > 0 ? std::string(text, std::size_t(length)) : std::string();
    return pid.empty() ? "another process" : "process " + pid;
}

}  // namespace

FolderLock::FolderLock(const QString& folder) {
    const QString path = folder + "/siderama.lock";
    descriptor = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) throw std::runtime_error("Can't open " + path.toStdString() + ": " + std::strerror(errno));
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const std::string message = folder.toStdString() + " is in use by another Siderama (" + holderOf(descriptor) + ")";
        ::close(descriptor);
        throw InUse(message);
    }
    const std::string pid = std::to_string(::getpid());
    // The name serves a second start's message only: the lock holds without it.
    if (::ftruncate(descriptor, 0) == 0) static_cast<void>(::pwrite(descriptor, pid.data(), pid.size(), 0) > 0);
}

FolderLock::~FolderLock() { ::close(descriptor); }

}  // namespace siderama
