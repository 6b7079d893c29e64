#include "imaging/FitsFile.h"

#include <QFile>

#include <fitsio.h>

namespace imagingtest {

namespace {

void readAxes(fitsfile* file, FitsImage& image, int* status) {
    int count = 0;
    fits_get_img_param(file, 0, &image.bitpix, &count, nullptr, status);
    image.axes.assign(size_t(count), 0);
    if (count > 0) fits_get_img_sizell(file, count, image.axes.data(), status);
}

// A missing key is not an error here, so it has a status of its own.
void readBzero(fitsfile* file, FitsImage& image) {
    double bzero = 0;
    int keyStatus = 0;
    if (fits_read_key(file, TDOUBLE, "BZERO", &bzero, nullptr, &keyStatus) == 0) image.bzero = bzero;
}

void readPixels(fitsfile* file, FitsImage& image, int* status) {
    long long count = image.axes.empty() ? 0 : 1;
    for (long long axis : image.axes) count *= axis;
    image.pixels.assign(size_t(count), 0);
    if (count == 0) return;
    std::vector<LONGLONG> first(image.axes.size(), 1);
    fits_read_pixll(file, TUSHORT, first.data(), count, nullptr, image.pixels.data(), nullptr, status);
}

}  // namespace

std::optional<FitsImage> readFits(const QString& path) {
    int status = 0;
    fitsfile* file = nullptr;
    if (fits_open_diskfile(&file, QFile::encodeName(path).constData(), READONLY, &status)) return std::nullopt;
    FitsImage image;
    readAxes(file, image, &status);
    readBzero(file, image);
    readPixels(file, image, &status);
    fits_close_file(file, &status);
    if (status != 0) return std::nullopt;
    return image;
}

}  // namespace imagingtest
