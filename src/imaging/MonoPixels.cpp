#include "imaging/MonoPixels.h"

#include <cstring>

namespace siderama {

namespace {

// Brings the formats that have an equivalent layout onto one of the handled ones.
QImage withHandledLayout(const QImage& image) {
    switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
        return image.convertToFormat(image.allGray() ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    case QImage::Format_ARGB32_Premultiplied:
        return image.convertToFormat(QImage::Format_ARGB32);
    case QImage::Format_RGBA8888_Premultiplied:
        return image.convertToFormat(QImage::Format_RGBA8888);
    case QImage::Format_RGBA64_Premultiplied:
        return image.convertToFormat(QImage::Format_RGBA64);
    default:
        return image;
    }
}

using RowRule = void (*)(const uchar* source, uint16_t* mono, qsizetype width);

void grey8Row(const uchar* source, uint16_t* mono, qsizetype width) {
    for (qsizetype x = 0; x < width; ++x) mono[x] = source[x];
}

void grey16Row(const uchar* source, uint16_t* mono, qsizetype width) {
    std::memcpy(mono, source, size_t(width) * sizeof(uint16_t));
}

// QRgb words: the colour bytes are taken by value, whatever the byte order.
void rgb32Row(const uchar* source, uint16_t* mono, qsizetype width) {
    const auto* pixels = reinterpret_cast<const QRgb*>(source);
    for (qsizetype x = 0; x < width; ++x) {
        mono[x] = uint16_t(qRed(pixels[x]) + qGreen(pixels[x]) + qBlue(pixels[x]));
    }
}

// Byte-ordered colour with `step` bytes per pixel, the three colours first.
template <int step>
void byteColourRow(const uchar* source, uint16_t* mono, qsizetype width) {
    for (qsizetype x = 0; x < width; ++x, source += step) {
        mono[x] = uint16_t(source[0] + source[1] + source[2]);
    }
}

// Four host-order 16-bit words per pixel: R, G, B and alpha or padding.
void rgb64Row(const uchar* source, uint16_t* mono, qsizetype width) {
    const auto* words = reinterpret_cast<const uint16_t*>(source);
    for (qsizetype x = 0; x < width; ++x, words += 4) {
        mono[x] = uint16_t((uint32_t(words[0]) + words[1] + words[2]) / 3);
    }
}

RowRule ruleFor(QImage::Format format) {
    switch (format) {
    case QImage::Format_Grayscale8: return grey8Row;
    case QImage::Format_Grayscale16: return grey16Row;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: return rgb32Row;
    case QImage::Format_RGB888:
    case QImage::Format_BGR888: return byteColourRow<3>;
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888: return byteColourRow<4>;
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64: return rgb64Row;
    default: return nullptr;
    }
}

}  // namespace

MonoRowSource monoRowSource(QImage image) {
    if (image.isNull()) return {};
    QImage source = withHandledLayout(image);
    image = QImage();
    const RowRule rule = ruleFor(source.format());
    if (!rule) return {};
    return [source = std::move(source), rule](qint64 y, uint16_t* row) {
        rule(source.constScanLine(int(y)), row, source.width());
    };
}

std::optional<std::vector<uint16_t>> monoPixels(const QImage& image) {
    const MonoRowSource rows = monoRowSource(image);
    if (!rows) return std::nullopt;
    const auto width = size_t(image.width());
    std::vector<uint16_t> mono(width * size_t(image.height()));
    for (int y = 0; y < image.height(); ++y) rows(y, mono.data() + size_t(y) * width);
    return mono;
}

}  // namespace siderama
