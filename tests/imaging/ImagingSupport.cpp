#include "imaging/ImagingSupport.h"

#include <QDir>
#include <QFile>
#include <QUuid>
#include <QtEndian>

#include <fitsio.h>

namespace imagingtest {

QString scratchDirectory() {
    const QString path = QDir::tempPath() + "/imaging-" + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(path);
    return path;
}

QString writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
    return path;
}

QByteArray rawFrame(const char* tag, quint32 width, quint32 height, const QByteArray& pixels) {
    char size[8];
    qToLittleEndian(width, size);
    qToLittleEndian(height, size + 4);
    return QByteArray(tag, 4) + QByteArray(size, 8) + pixels;
}

std::optional<FitsImage> readFits(const QString& path) {
    int status = 0, count = 0, keyStatus = 0;
    fitsfile* file = nullptr;
    if (fits_open_diskfile(&file, QFile::encodeName(path).constData(), READONLY, &status)) return std::nullopt;
    FitsImage image;
    fits_get_img_param(file, 0, &image.bitpix, &count, nullptr, &status);
    image.axes.assign(size_t(count), 0);
    if (count > 0) fits_get_img_sizell(file, count, image.axes.data(), &status);
    double bzero = 0;
    if (fits_read_key(file, TDOUBLE, "BZERO", &bzero, nullptr, &keyStatus) == 0) image.bzero = bzero;
    long long pixels = count > 0 ? 1 : 0;
    for (long long axis : image.axes) pixels *= axis;
    image.pixels.assign(size_t(pixels), 0);
    std::vector<LONGLONG> first(image.axes.size(), 1);
    if (pixels > 0) fits_read_pixll(file, TUSHORT, first.data(), pixels, nullptr, image.pixels.data(), nullptr, &status);
    fits_close_file(file, &status);
    if (status != 0) return std::nullopt;
    return image;
}

uint16_t fitsPixel(const QString& path, long long x, long long y) {
    int status = 0;
    fitsfile* file = nullptr;
    fits_open_diskfile(&file, QFile::encodeName(path).constData(), READONLY, &status);
    LONGLONG first[2] = {x + 1, y + 1};
    uint16_t value = 0;
    fits_read_pixll(file, TUSHORT, first, 1, nullptr, &value, nullptr, &status);
    fits_close_file(file, &status);
    return status == 0 ? value : 0xDEAD;
}

}  // namespace imagingtest
