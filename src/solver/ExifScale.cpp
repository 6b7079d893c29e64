#include "solver/ExifScale.h"

#include <QFile>
#include <QImageReader>
#include <cmath>
#include <libexif/exif-data.h>
#include <memory>
#include <numbers>

namespace siderama {

namespace {

constexpr double arcsecondsPerRadian = 180 * 3600 / std::numbers::pi;

// A positive number in an EXIF entry of the Exif folder, or none.
std::optional<double> number(ExifData* data, ExifTag tag) {
    ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_EXIF], tag);
    if (!entry || !entry->data || entry->components < 1) return std::nullopt;
    const ExifByteOrder order = exif_data_get_byte_order(data);
    double value = 0;
    if (entry->format == EXIF_FORMAT_RATIONAL && entry->size >= 8) {
        const ExifRational r = exif_get_rational(entry->data, order);
        value = r.denominator ? double(r.numerator) / r.denominator : 0;
    } else if (entry->format == EXIF_FORMAT_SHORT && entry->size >= 2) {
        value = exif_get_short(entry->data, order);
    } else if (entry->format == EXIF_FORMAT_LONG && entry->size >= 4) {
        value = exif_get_long(entry->data, order);
    }
    return value > 0 && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

// Millimetres per unit of FocalPlaneResolutionUnit (2 inch, 3 cm, 4 mm, 5 µm).
std::optional<double> unitMillimetres(ExifData* data) {
    switch (int(number(data, EXIF_TAG_FOCAL_PLANE_RESOLUTION_UNIT).value_or(2))) {
    case 2: return 25.4;
    case 3: return 10;
    case 4: return 1;
    case 5: return 0.001;
    default: return std::nullopt;
    }
}

}  // namespace

std::optional<double> ExifScale::read(const QString& path, int width, int height) {
    QFile file(path);
    // Only a JPEG: libexif would search any other file from end to end.
    if (width <= 0 || height <= 0 || !file.open(QIODevice::ReadOnly) || file.read(2) != "\xFF\xD8")
        return std::nullopt;
    const std::unique_ptr<ExifData, void (*)(ExifData*)> data(exif_data_new_from_file(QFile::encodeName(path)),
                                                              exif_data_unref);
    if (!data) return std::nullopt;
    const std::optional<double> focal = number(data.get(), EXIF_TAG_FOCAL_LENGTH);
    const std::optional<double> resolution = number(data.get(), EXIF_TAG_FOCAL_PLANE_X_RESOLUTION);
    const std::optional<double> unit = unitMillimetres(data.get());
    if (focal && resolution && unit) {
        const double exifWidth = number(data.get(), EXIF_TAG_PIXEL_X_DIMENSION)
                                     .value_or(QImageReader(path).size().width());
        const double pitch = *unit / *resolution * (exifWidth > 0 ? exifWidth / width : 1);
        return arcsecondsPerRadian * pitch / *focal;
    }
    if (const std::optional<double> equivalent = number(data.get(), EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM))
        return 2 * std::atan(18 / *equivalent) * arcsecondsPerRadian / std::max(width, height);
    return std::nullopt;
}

}  // namespace siderama
