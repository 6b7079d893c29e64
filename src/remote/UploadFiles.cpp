#include "remote/UploadFiles.h"

#include "http/StringHelpers.h"
#include "imaging/ImageFormats.h"

#include <QDir>
#include <QTemporaryFile>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace siderama {

namespace {

constexpr std::size_t longestName = 255;

// The directory is usable when it is a real directory (not a link) owned by
// this user with no access for anyone else.
bool isPrivateDirectory(const QByteArray& path) {
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return false;
    if ((info.st_mode & 077) == 0) return true;
    return ::chmod(path.constData(), 0700) == 0;
}

bool hasControlCharacter(const std::string& text) {
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

}  // namespace

std::optional<QString> UploadFiles::directory() {
    const QString path = QDir::tempPath() + "/siderama-" + QString::number(::geteuid());
    const QByteArray local = QFile::encodeName(path);
    ::mkdir(local.constData(), 0700);
    if (!isPrivateDirectory(local)) return std::nullopt;
    return path + "/";
}

std::optional<QString> UploadFiles::plainName(const std::string& requested) {
    const std::size_t cut = requested.find_last_of("/\\");
    const std::string name = cut == std::string::npos ? requested : requested.substr(cut + 1);
    if (name.empty() || name.front() == '.' || name.size() > longestName) return std::nullopt;
    if (hasControlCharacter(name) || !http::isValidUtf8(name)) return std::nullopt;
    return QString::fromStdString(name);
}

QString UploadFiles::defaultName(const std::string& data) {
    const QByteArray leading = QByteArray::fromRawData(data.data(), qsizetype(std::min<std::size_t>(data.size(), 64)));
    const QString extension = imageExtensionForData(leading);
    return "image." + (extension.isEmpty() ? QString("fits") : extension);
}

// No sync to disk: an upload only has to outlive the solve that reads it, and
// syncing a large image would cost more than receiving it.
bool UploadFiles::writeAtomically(const QString& path, const std::string& data) {
    QTemporaryFile file(path + ".XXXXXX");
    if (!file.open()) return false;
    if (file.write(data.data(), qint64(data.size())) != qint64(data.size()) || !file.flush()) return false;
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    file.setAutoRemove(false);
    return true;
}

}  // namespace siderama
