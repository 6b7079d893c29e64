#include "imaging/ImageCompleteness.h"

#include "imaging/FitsHandle.h"
#include "imaging/FitsPath.h"

#include <fitsio.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdlib>
#include <memory>

namespace siderama {

namespace {

// The file's last bytes (at most `count`).
QByteArray tail(const QString& path, qint64 count) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    file.seek(std::max<qint64>(0, file.size() - count));
    return file.readAll();
}

// The bytes a unit's data holds: images without their padding (some
// writers leave it out), other units with it.
long long dataEnd(fitsfile* file, long long data, long long paddedEnd, int& status) {
    int type = 0;
    fits_get_hdu_type(file, &type, &status);
    if (status || type != IMAGE_HDU) return paddedEnd;
    int bitpix = 0, axes = 0;
    long sizes[9] = {};
    fits_get_img_param(file, 9, &bitpix, &axes, sizes, &status);
    long long bytes = axes > 0 ? std::abs(bitpix) / 8 : 0;
    for (int i = 0; i < std::min(axes, 9); ++i) bytes *= sizes[i];
    return data + bytes;
}

}  // namespace

bool ImageCompleteness::isComplete(const QString& path) {
    if (isFitsPath(path)) return fitsComplete(path);
    const QString suffix = QFileInfo(path).suffix().toLower();
    // Writers may pad after the end marker; it lies within the last bytes.
    if (suffix == "jpg" || suffix == "jpeg") return tail(path, 64).contains("\xff\xd9");
    if (suffix == "png") return tail(path, 64).contains("IEND");
    return true;
}

// Every unit's data must end within the file: a header that announces more
// than is there belongs to a file still being written.
bool ImageCompleteness::fitsComplete(const QString& path) {
    const qint64 size = QFileInfo(path).size();
    int status = 0;
    fitsfile* raw = nullptr;
    fits_open_diskfile(&raw, QFile::encodeName(path).constData(), READONLY, &status);
    const FitsHandle file(raw);
    long long coveredTo = 0;  // the padded end of the last whole unit
    for (int hdu = 1;; ++hdu) {
        fits_movabs_hdu(raw, hdu, nullptr, &status);
        // No further unit: complete unless part of a header follows.
        if (status) return hdu > 1 && size <= coveredTo;
        LONGLONG start = 0, data = 0, end = 0;
        fits_get_hduaddrll(raw, &start, &data, &end, &status);
        if (status || dataEnd(raw, data, end, status) > size || status) return false;
        coveredTo = end;
    }
}

}  // namespace siderama
