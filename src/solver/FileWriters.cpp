#include "solver/FileWriters.h"

#include <QByteArray>
#include <QFile>
#include <cctype>
#include <cstdio>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace siderama {

namespace {

using Directory = std::unique_ptr<DIR, int (*)(DIR*)>;

Directory openDirectory(const QByteArray& path) { return {::opendir(path.constData()), ::closedir}; }

// The access mode in /proc/PID/fdinfo/FD ("flags:\t0100001").
bool writable(const QByteArray& fdinfo) {
    QFile file(QString::fromLatin1(fdinfo));
    if (!file.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.startsWith("flags:")) continue;
        bool ok = false;
        const int flags = line.mid(6).trimmed().toInt(&ok, 8);
        return ok && (flags & O_ACCMODE) != O_RDONLY;
    }
    return false;
}

bool holdsForWriting(const QByteArray& pid, const struct stat& target) {
    const Directory fds = openDirectory("/proc/" + pid + "/fd");
    if (!fds) return false;
    while (const dirent* entry = ::readdir(fds.get())) {
        const QByteArray fd(entry->d_name);
        if (fd.startsWith('.')) continue;
        struct stat open {};
        if (::stat(("/proc/" + pid + "/fd/" + fd).constData(), &open) != 0) continue;
        if (open.st_ino == target.st_ino && open.st_dev == target.st_dev &&
            writable("/proc/" + pid + "/fdinfo/" + fd))
            return true;
    }
    return false;
}

}  // namespace

bool FileWriters::isOpenForWriting(const QString& path) {
    struct stat target {};
    if (::stat(QFile::encodeName(path).constData(), &target) != 0) return false;
    const Directory processes = openDirectory("/proc");
    if (!processes) return false;
    while (const dirent* entry = ::readdir(processes.get()))
        if (std::isdigit(static_cast<unsigned char>(entry->d_name[0])) && holdsForWriting(entry->d_name, target))
            return true;
    return false;
}

}  // namespace siderama
