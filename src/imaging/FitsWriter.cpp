#include "imaging/FitsWriter.h"

#include "imaging/ImagingLog.h"

#include <QFile>
#include <QFileInfo>

#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fitsio.h>

namespace siderama {

namespace {

QString fitsError(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return QString::fromLocal8Bit(text);
}

// CFITSIO refuses to create over an existing file, so it is removed first.
bool clearDestination(const QString& path) {
    if (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink()) return true;
    QFile file(path);
    if (file.remove()) return true;
    qCWarning(lcImaging).noquote() << QString("Cannot replace %1: %2").arg(path, file.errorString());
    return false;
}

// Creates, fills and closes the file; returns CFITSIO's first error status.
int writeImage(const QByteArray& name, LONGLONG width, LONGLONG height,
               const std::function<void(qint64, uint16_t*)>& row) {
    int status = 0;
    fitsfile* file = nullptr;
    // The disk-file variant takes the name literally: no "!" clobber prefix,
    // no bracket filters, no "mem://" or "-" devices.
    if (fits_create_diskfile(&file, name.constData(), &status)) return status;
    LONGLONG axes[2] = {width, height};
    fits_create_imgll(file, USHORT_IMG, 2, axes, &status);
    std::vector<uint16_t> values(static_cast<size_t>(width));
    for (LONGLONG y = 0; y < height && status == 0; ++y) {
        row(y, values.data());
        LONGLONG first[2] = {1, y + 1};
        fits_write_pixll(file, TUSHORT, first, width, values.data(), &status);
    }
    fits_close_file(file, &status);  // closes even after an earlier error
    return status;
}

// CFITSIO does not keep errno: a write that failed where the file would not
// fit counts as a full disk.
QString failureText(int status, const QString& path, qint64 bytes) {
    const QStorageInfo volume(QFileInfo(path).absolutePath());
    if (volume.isValid() && volume.bytesAvailable() < bytes) return "disk full";
    return fitsError(status);
}

}  // namespace

bool writeFits(const QString& path, qint64 width, qint64 height, std::span<const uint16_t> pixels) {
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) != pixels.size()) {
        qCWarning(lcImaging).noquote() << QString("Cannot write %1: %2 x %3 pixels expected, %4 given")
                                              .arg(path).arg(width).arg(height).arg(pixels.size());
        return false;
    }
    return !writeFitsRows(path, width, height, [&](qint64 y, uint16_t* row) {
        std::copy_n(pixels.data() + y * width, width, row);
    });
}

std::optional<QString> writeFitsRows(const QString& path, qint64 width, qint64 height,
                   const std::function<void(qint64 y, uint16_t* row)>& row) {
    const QString partial = path + ".partial";
    if (!clearDestination(partial)) return "cannot replace " + partial;
    const int status = writeImage(QFile::encodeName(partial), width, height, row);
    if (status == 0 && std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) == 0)
        return std::nullopt;
    const QString reason = status != 0 ? failureText(status, path, width * height * 2) : std::strerror(errno);
    qCWarning(lcImaging).noquote() << QString("Cannot write FITS file %1: %2").arg(path, reason);
    QFile::remove(partial);
    return reason;
}

}  // namespace siderama
