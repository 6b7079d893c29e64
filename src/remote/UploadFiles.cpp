#include "remote/UploadFiles.h"

#include "http/BodyFile.h"
#include "http/StringHelpers.h"
#include "core/Defaults.h"
#include "imaging/Convert.h"
#include "imaging/ImageFormats.h"
#include "solver/SolvePaths.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <charconv>
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

// The integer value of header card `key` among the cards of `header`.
std::optional<qint64> cardValue(std::string_view header, std::string_view key) {
    for (std::size_t at = 0; at + 80 <= header.size(); at += 80) {
        const std::string_view card = header.substr(at, 80);
        if (card.starts_with("END ")) break;
        const std::string_view name = card.substr(0, card.substr(0, 8).find_last_not_of(' ') + 1);
        if (name != key || card.substr(8, 2) != "= ") continue;
        const std::string_view value = card.substr(10, card.find('/', 10) - 10);
        const std::size_t start = value.find_first_not_of(' ');
        qint64 number = 0;
        if (start != std::string_view::npos &&
            std::from_chars(value.data() + start, value.data() + value.size(), number).ec == std::errc())
            return number;
    }
    return std::nullopt;
}

}  // namespace

QString UploadFiles::sizeProblem(std::string_view leading) {
    if (!leading.starts_with("SIMPLE  =")) return {};
    const std::string_view header = leading.substr(0, headerBytes);
    const qint64 width = cardValue(header, "NAXIS1").value_or(0), height = cardValue(header, "NAXIS2").value_or(0);
    const qint64 limit = Defaults::integerValue(Defaults::maxImageMegapixels, defaultMaxPixels() / 1'000'000);
    if (width <= 0 || height <= 0 || width <= limit * 1'000'000 / height) return {};
    return QString("Image too large: %1 × %2 pixels, above max-image-megapixels (%3)").arg(width).arg(height).arg(limit);
}

// Qt gives an empty path for a TMPDIR that does not exist: it is read here.
QString UploadFiles::temporaryDirectory() {
    const QString configured = qEnvironmentVariable("TMPDIR");
    return QDir::cleanPath(configured.isEmpty() ? QDir::tempPath() : configured);
}

std::optional<QString> UploadFiles::directory() {
    const QString temporary = temporaryDirectory();
    if (!QDir::isAbsolutePath(temporary) || temporary == "/" || !QDir().mkpath(temporary)) return std::nullopt;
    const QString path = temporary + "/siderama-" + QString::number(::geteuid());
    const QByteArray local = QFile::encodeName(path);
    ::mkdir(local.constData(), 0700);
    if (!isPrivateDirectory(local)) return std::nullopt;
    return path;
}

std::optional<QString> UploadFiles::plainName(const std::string& requested) {
    const std::size_t cut = requested.find_last_of("/\\");
    const std::string name = cut == std::string::npos ? requested : requested.substr(cut + 1);
    if (name.empty() || name.front() == '.' || name.size() > longestName) return std::nullopt;
    if (hasControlCharacter(name) || !http::isValidUtf8(name)) return std::nullopt;
    return QString::fromStdString(name);
}

// No sync to disk: an upload only has to outlive the solve that reads it, and
// syncing a large image would cost more than receiving it.
bool UploadFiles::writeAtomically(const QString& path, std::string_view data, http::BodyFile* source) {
    const QFileInfo target(path);
    auto file = http::BodyFile::create(QFile::encodeName(target.path()).toStdString(),
                                       QFile::encodeName(target.fileName() + ".").toStdString(), data.size());
    if (!file) return false;
    file->writeFrom(source, data);
    return file->keepAs(QFile::encodeName(path).toStdString());
}

QString UploadFiles::nameProblem(std::string_view requested) {
    if (requested.find('\0') != std::string_view::npos) return "File name contains a NUL byte";
    if (requested.size() > longestName) return "File name too long";
    if (!http::isValidUtf8(requested)) return "File name is not UTF-8";
    return {};
}

QString UploadFiles::extensionFor(std::string_view leading) {
    const QString extension = imageExtensionForData(QByteArray(leading.data(), qsizetype(leading.size())));
    return extension.isEmpty() ? QString("fits") : extension;
}

qint64 UploadFiles::usedSpace(const QString& directory) {
    qint64 used = 0;
    for (QDirIterator files(directory, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); files.hasNext();)
        used += files.nextFileInfo().size();
    return used;
}

void UploadFiles::sweep(const QString& directory, std::chrono::seconds age) {
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-age.count());
    for (QDirIterator files(directory, QDir::Files | QDir::Hidden); files.hasNext();) {
        const QFileInfo file = files.nextFileInfo();
        if (file.lastModified().toUTC() <= cutoff) QFile::remove(file.filePath());
    }
}

QStringList UploadFiles::solveFiles(const QString& upload) {
    const SolvePaths paths(upload);
    QStringList files{upload, paths.fits, paths.wcsImage};
    files += paths.intermediateFiles();
    files.removeDuplicates();
    return files;
}

}  // namespace siderama
