// One grey value per pixel from every pixel layout Qt decodes to: eight-bit
// colour summed, sixteen-bit colour averaged, alpha ignored, row padding
// skipped, top row first.
#include "imaging/MonoPixels.h"

#include <gtest/gtest.h>

#include <list>

namespace {

using Pixels = std::vector<uint16_t>;

// Keeps the bytes alive as long as the image that uses them.
const uchar* bytes(std::initializer_list<uchar> values) {
    static std::list<std::vector<uchar>> kept;
    return kept.emplace_back(values).data();
}

QImage rgba64(std::initializer_list<QRgba64> values, QImage::Format format = QImage::Format_RGBA64) {
    QImage image(int(values.size()), 1, format);
    std::copy(values.begin(), values.end(), reinterpret_cast<QRgba64*>(image.scanLine(0)));
    return image;
}

QImage palette(QList<QRgb> colours) {
    QImage image(2, 1, QImage::Format_Indexed8);
    image.setColorTable(colours);
    image.setPixel(0, 0, 1);
    image.setPixel(1, 0, 0);
    return image;
}

QImage mono() {
    QImage image(9, 1, QImage::Format_Mono);  // more than one byte per row
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    image.fill(0);
    image.setPixel(0, 0, 1);
    image.setPixel(8, 0, 1);
    return image;
}

QImage filled(QImage::Format format) {
    QImage image(2, 2, format);
    image.fill(Qt::white);
    return image;
}

QImage grey16(uint16_t top, uint16_t bottom) {
    QImage image(1, 2, QImage::Format_Grayscale16);
    reinterpret_cast<uint16_t*>(image.scanLine(0))[0] = top;
    reinterpret_cast<uint16_t*>(image.scanLine(1))[0] = bottom;
    return image;
}

TEST(PixelLayouts, Table) {
    QImage premultiplied(1, 1, QImage::Format_ARGB32_Premultiplied);
    premultiplied.setPixel(0, 0, qPremultiply(qRgba(100, 50, 30, 255)));
    const uchar* rgba = bytes({10, 20, 30, 255, 1, 2, 3, 0});
    const std::vector<std::tuple<const char*, QImage, std::optional<Pixels>>> cases{
        {"grey8, rows padded", QImage(bytes({1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 4, 5, 6, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}),
                                      3, 2, 8, QImage::Format_Grayscale8), Pixels{1, 2, 3, 4, 5, 6}},
        {"rgb888, rows padded", QImage(bytes({1, 1, 1, 2, 2, 2, 0xEE, 0xEE, 3, 3, 3, 4, 4, 4, 0xEE, 0xEE}), 2, 2, 8,
                                       QImage::Format_RGB888), Pixels{3, 6, 9, 12}},
        {"rgba8888", QImage(rgba, 2, 1, 8, QImage::Format_RGBA8888), Pixels{60, 6}},
        {"rgbx8888", QImage(rgba, 2, 1, 8, QImage::Format_RGBX8888), Pixels{60, 6}},
        {"bgr888", QImage(bytes({30, 20, 10, 3, 2, 1}), 2, 1, 6, QImage::Format_BGR888), Pixels{60, 6}},
        {"argb32 premultiplied", premultiplied, Pixels{180}},
        {"rgba64, sum beyond 16 bits, rounded down",
         rgba64({QRgba64::fromRgba64(65535, 65535, 65535, 0), QRgba64::fromRgba64(1, 1, 2, 65535),
                 QRgba64::fromRgba64(60000, 50000, 40001, 1)}), Pixels{65535, 1, 50000}},
        {"grey16, top row first", grey16(50000, 7), Pixels{50000, 7}},
        {"grey palette", palette({qRgb(7, 7, 7), qRgb(250, 250, 250)}), Pixels{250, 7}},
        {"colour palette", palette({qRgb(7, 7, 7), qRgb(200, 10, 1)}), Pixels{211, 21}},
        {"one bit", mono(), Pixels{255, 0, 0, 0, 0, 0, 0, 0, 255}},
        {"rgb16", filled(QImage::Format_RGB16), std::nullopt},
        {"alpha8", filled(QImage::Format_Alpha8), std::nullopt},
        {"null", QImage(), std::nullopt},
    };
    for (const auto& [name, image, expected] : cases) EXPECT_EQ(siderama::monoPixels(image), expected) << name;
}

}  // namespace
