#include "FieldWriter.h"

#include "imaging/FitsWriter.h"

#include <QImage>
#include <QImageWriter>

#include <cstdio>
#include <functional>
#include <map>

namespace skyfield {

namespace {

uint16_t level16(float value) { return uint16_t(value * 65535.0f + 0.5f); }
uint8_t level8(float value) { return uint8_t(value * 255.0f + 0.5f); }

std::vector<uint16_t> levels16(const Field& field) {
    std::vector<uint16_t> levels(field.pixels.size());
    for (size_t i = 0; i < levels.size(); ++i) levels[i] = level16(field.pixels[i]);
    return levels;
}

// An image of the format, each pixel set from its field value by `set`.
template <typename Set>
QImage imageOf(const Field& field, QImage::Format format, Set set) {
    QImage image(field.width, field.height, format);
    for (int y = 0; y < field.height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < field.width; ++x) set(row, x, field.pixels[size_t(y) * field.width + x]);
    }
    return image;
}

QImage grey8(const Field& field) {
    return imageOf(field, QImage::Format_Grayscale8, [](uchar* row, int x, float v) { row[x] = level8(v); });
}

QImage grey16(const Field& field) {
    return imageOf(field, QImage::Format_Grayscale16,
                   [](uchar* row, int x, float v) { reinterpret_cast<uint16_t*>(row)[x] = level16(v); });
}

QImage rgb888(const Field& field) {
    return imageOf(field, QImage::Format_RGB888,
                   [](uchar* row, int x, float v) { row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = level8(v); });
}

QImage rgb64(const Field& field) {
    return imageOf(field, QImage::Format_RGBX64, [](uchar* row, int x, float v) {
        reinterpret_cast<QRgba64*>(row)[x] = QRgba64::fromRgba64(level16(v), level16(v), level16(v), 0xFFFF);
    });
}

int jpegQuality = 90;

bool save(const QImage& image, const QString& path, const char* format) {
    QImageWriter writer(path, format);
    writer.setQuality(jpegQuality);
    if (writer.write(image)) return true;
    std::fprintf(stderr, "skyfield: cannot write %s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
    return false;
}

using Writer = std::function<bool(const Field&, const QString&)>;

const std::map<QString, Writer>& writers() {
    static const std::map<QString, Writer> table{
        {"fits", [](const Field& f, const QString& p) { return siderama::writeFits(p, f.width, f.height, levels16(f)); }},
        {"png8", [](const Field& f, const QString& p) { return save(grey8(f), p, "png"); }},
        {"jpg", [](const Field& f, const QString& p) { return save(rgb888(f), p, "jpeg"); }},
        {"png16", [](const Field& f, const QString& p) { return save(grey16(f), p, "png"); }},
        {"tiff16", [](const Field& f, const QString& p) { return save(grey16(f), p, "tiff"); }},
        {"tiff48", [](const Field& f, const QString& p) { return save(rgb64(f), p, "tiff"); }},
        {"raw1", [](const Field& f, const QString& p) { return save(grey8(f), p, "raw"); }},
        {"raw2", [](const Field& f, const QString& p) { return save(grey16(f), p, "raw"); }},
        {"raw3", [](const Field& f, const QString& p) { return save(rgb888(f), p, "raw"); }},
    };
    return table;
}

}  // namespace

QStringList formatNames() {
    QStringList names;
    for (const auto& entry : writers()) names << entry.first;
    return names;
}

bool writeField(const Field& field, const QString& format, const QString& path, int quality) {
    jpegQuality = quality;
    const auto writer = writers().find(format);
    return writer != writers().end() && writer->second(field, path);
}

}  // namespace skyfield
