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

void addWritten(const QByteArray& pid, std::set<std::pair<quint64, quint64>>& files) {
    const Directory fds = openDirectory("/proc/" + pid + "/fd");
    if (!fds) return;
    while (const dirent* entry = ::readdir(fds.get())) {
        const QByteArray fd(entry->d_name);
        if (fd.startsWith('.')) continue;
        struct stat open {};
        if (::stat(("/proc/" + pid + "/fd/" + fd).constData(), &open) == 0 && S_ISREG(open.st_mode) &&
            writable("/proc/" + pid + "/fdinfo/" + fd))
            files.emplace(open.st_dev, open.st_ino);
    }
}

}  // namespace

FileWriters FileWriters::scan() {
    FileWriters writers;
    const Directory processes = openDirectory("/proc");
    if (!processes) return writers;
    while (const dirent* entry = ::readdir(processes.get()))
        if (std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) addWritten(entry->d_name, writers.files);
    return writers;
}

bool FileWriters::isOpenForWriting(const QString& path) const {
    struct stat target {};
    return ::stat(QFile::encodeName(path).constData(), &target) == 0 && files.count({target.st_dev, target.st_ino});
}

}  // namespace siderama
