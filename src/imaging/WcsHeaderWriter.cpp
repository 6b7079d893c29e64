#include "imaging/WcsHeaderWriter.h"

#include "imaging/FitsHandle.h"

#include <fitsio.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace siderama {

namespace {

constexpr int cardLength = 80;
constexpr int blockLength = 2880;

// A file descriptor closed when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// The primary header's cards and where its data unit starts.
struct Header {
    QList<QByteArray> cards;
    long long dataStart = 0;
    bool compressed = false;
};

QString fitsMessage(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return QString::fromLatin1(text);
}

QString systemMessage() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool isGzip(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(2) == QByteArray("\x1f\x8b", 2);
}

// Any tile-compressed image among the extensions (fpack's output).
bool hasCompressedImage(fitsfile* file, int& status) {
    int count = 0;
    fits_get_num_hdus(file, &count, &status);
    for (int hdu = 2; hdu <= count && !status; ++hdu) {
        fits_movabs_hdu(file, hdu, nullptr, &status);
        if (!status && fits_is_compressed_image(file, &status)) return true;
    }
    return false;
}

std::optional<Header> readHeader(const QString& path, QString& error) {
    int status = 0;
    fitsfile* raw = nullptr;
    // The name is taken literally: CFITSIO's file-name syntax is not applied.
    fits_open_diskfile(&raw, QFile::encodeName(path).constData(), READONLY, &status);
    const FitsHandle file(raw);
    Header header;
    int keys = 0, room = 0;
    fits_get_hdrspace(raw, &keys, &room, &status);
    for (int i = 1; i <= keys && !status; ++i) {
        char card[FLEN_CARD] = {};
        fits_read_record(raw, i, card, &status);
        header.cards << QByteArray(card).leftJustified(cardLength, ' ', true);
    }
    LONGLONG start = 0, data = 0, end = 0;
    fits_get_hduaddrll(raw, &start, &data, &end, &status);
    header.dataStart = data;
    if (!status) header.compressed = hasCompressedImage(raw, status);
    if (status) {
        error = path + " is not a readable FITS file: " + fitsMessage(status);
        return std::nullopt;
    }
    return header;
}

QString keyword(const QByteArray& card) { return QString::fromLatin1(card.left(8)).trimmed(); }

// The keywords of a celestial WCS with SIP terms, in the forms solve-field
// writes and the older ones (CDELT/CROTA, PC, PV) another solver may have left.
bool isWcsKeyword(const QString& name) {
    static const QRegularExpression pattern(
        "^(WCSAXES|WCSNAME|CTYPE\\d|CUNIT\\d|CRVAL\\d|CRPIX\\d|CDELT\\d|CROTA\\d|CD\\d_\\d|PC\\d_\\d|PV\\d_\\d+|"
        "LONPOLE|LATPOLE|EQUINOX|RADESYS|RADECSYS|IMAGEW|IMAGEH|A_DMAX|B_DMAX|[AB]P?_ORDER|[AB]P?_\\d+_\\d+)$");
    return pattern.match(name).hasMatch();
}

bool isOwnHistory(const QByteArray& card) {
    return card.startsWith(QByteArray("HISTORY ") + WcsHeaderWriter::historyMark);
}

// The original cards without any older WCS, then the solution's, then the
// HISTORY card; END and blanks to the block boundary.
QByteArray mergedHeader(const Header& original, const Header& solution) {
    QByteArray bytes;
    for (const QByteArray& card : original.cards)
        if (!isWcsKeyword(keyword(card)) && !isOwnHistory(card)) bytes += card;
    for (const QByteArray& card : solution.cards)
        if (isWcsKeyword(keyword(card))) bytes += card;
    const QString when = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const QByteArray history = "HISTORY " + QByteArray(WcsHeaderWriter::historyMark) + " " + when.toLatin1() +
                               " solved by astrometry.net solve-field";
    bytes += history.leftJustified(cardLength, ' ', true);
    bytes += QByteArray("END").leftJustified(cardLength, ' ');
    return bytes.leftJustified((bytes.size() + blockLength - 1) / blockLength * blockLength, ' ');
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

// The bytes of `source` from `offset` to its end.
bool copyTail(int to, const QString& source, long long offset) {
    Descriptor from{::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC)};
    if (from.fd < 0 || ::lseek(from.fd, offset, SEEK_SET) != offset) return false;
    std::unique_ptr<char[]> buffer(new char[1 << 20]);
    for (;;) {
        const ssize_t got = ::read(from.fd, buffer.get(), 1 << 20);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (!writeAll(to, buffer.get(), size_t(got))) return false;
    }
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Why the file cannot be replaced, or "".
QString writeProblem(const QString& path, const struct stat& status) {
    const QByteArray name = QFile::encodeName(path);
    // Permissions are honoured even where the user could override them.
    if ((status.st_mode & 0222) == 0 || ::access(name.constData(), W_OK) != 0)
        return path + " is read-only: the WCS was not written into it";
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::access(folder.constData(), W_OK) != 0)
        return "The folder of " + path + " is read-only: the WCS was not written into the file";
    return {};
}

// A CHECKSUM card the file carried is made true for the new header (the
// data and their DATASUM are unchanged).
bool updateChecksum(const QString& path, const QByteArray& header) {
    bool carried = false;
    for (qsizetype at = 0; at < header.size() && !carried; at += cardLength) carried = header.mid(at, 9) == "CHECKSUM=";
    if (!carried) return true;
    int status = 0;
    fitsfile* raw = nullptr;
    fits_open_diskfile(&raw, QFile::encodeName(path).constData(), READWRITE, &status);
    fits_write_chksum(raw, &status);
    fits_close_file(raw, &status);
    return status == 0;
}

// Writes `header` and the original's data beside it, syncs and renames it
// over the original unless that changed meanwhile.
QString replace(const QString& path, const struct stat& before, const QByteArray& header, long long dataStart) {
    const QFileInfo info(path);
    QByteArray temporary = QFile::encodeName(info.absolutePath() + "/." + info.fileName() + ".siderama-XXXXXX");
    Descriptor out{::mkostemp(temporary.data(), O_CLOEXEC)};
    if (out.fd < 0) return "Cannot write beside " + path + ": " + systemMessage();
    const auto fail = [&](const QString& what) {
        const QString reason = systemMessage();
        ::unlink(temporary.constData());
        return what + " " + path + ": " + reason + "; the file is unchanged";
    };
    if (!writeAll(out.fd, header.constData(), size_t(header.size())) || !copyTail(out.fd, path, dataStart))
        return fail("Cannot write the new header of");
    if (!updateChecksum(QString::fromLocal8Bit(temporary), header)) return fail("Cannot update the checksum of");
    ::fchmod(out.fd, before.st_mode & 07777);
    [[maybe_unused]] const int owned = ::fchown(out.fd, before.st_uid, before.st_gid);
    if (::fsync(out.fd) != 0) return fail("Cannot sync the new copy of");
    struct stat now {};
    if (::stat(QFile::encodeName(path).constData(), &now) != 0 || !sameFile(before, now)) {
        ::unlink(temporary.constData());
        return path + " changed during the solve: the WCS was not written into it";
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) return fail("Cannot replace");
    Descriptor folder{::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folder.fd >= 0) ::fsync(folder.fd);
    return {};
}

}  // namespace

QString WcsHeaderWriter::write(const QString& fitsFile, const QString& wcsFile) {
    struct stat before {};
    if (::stat(QFile::encodeName(fitsFile).constData(), &before) != 0 || !S_ISREG(before.st_mode))
        return "Cannot write the WCS into " + fitsFile + ": " + systemMessage();
    if (const QString problem = writeProblem(fitsFile, before); !problem.isEmpty()) return problem;
    if (isGzip(fitsFile)) return fitsFile + " is compressed: the WCS was not written into it";
    QString error;
    const std::optional<Header> original = readHeader(fitsFile, error);
    if (!original) return error;
    if (original->compressed)
        return fitsFile + " is a compressed (fpack) image: the WCS was not written into it";
    const std::optional<Header> solution = readHeader(wcsFile, error);
    if (!solution) return error;
    return replace(fitsFile, before, mergedHeader(*original, *solution), original->dataStart);
}

bool WcsHeaderWriter::carriesOwnWcs(const QString& fitsFile) {
    QString error;
    const std::optional<Header> header = readHeader(fitsFile, error);
    return header && std::any_of(header->cards.begin(), header->cards.end(), isOwnHistory);
}

}  // namespace siderama
