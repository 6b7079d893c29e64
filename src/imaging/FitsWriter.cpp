#include "imaging/FitsWriter.h"

#include "imaging/ImagingLog.h"

#include <QFile>
#include <QFileInfo>

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
int writeImage(const QByteArray& name, LONGLONG width, LONGLONG height, std::span<const uint16_t> pixels) {
    int status = 0;
    fitsfile* file = nullptr;
    // The disk-file variant takes the name literally: no "!" clobber prefix,
    // no bracket filters, no "mem://" or "-" devices.
    if (fits_create_diskfile(&file, name.constData(), &status)) return status;
    LONGLONG axes[2] = {width, height};
    LONGLONG first[2] = {1, 1};
    fits_create_imgll(file, USHORT_IMG, 2, axes, &status);
    fits_write_pixll(file, TUSHORT, first, LONGLONG(pixels.size()),
                     const_cast<uint16_t*>(pixels.data()), &status);
    fits_close_file(file, &status);  // closes even after an earlier error
    return status;
}

}  // namespace

bool writeFits(const QString& path, qint64 width, qint64 height, std::span<const uint16_t> pixels) {
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) != pixels.size()) {
        qCWarning(lcImaging).noquote() << QString("Cannot write %1: %2 x %3 pixels expected, %4 given")
                                              .arg(path).arg(width).arg(height).arg(pixels.size());
        return false;
    }
    if (!clearDestination(path)) return false;
    const int status = writeImage(QFile::encodeName(path), width, height, pixels);
    if (status == 0) return true;
    qCWarning(lcImaging).noquote() << QString("Cannot write FITS file %1: %2").arg(path, fitsError(status));
    QFile::remove(path);
    return false;
}

}  // namespace siderama
