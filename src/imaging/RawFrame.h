#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>

#include <cstdint>
#include <optional>

namespace siderama {

// The header of a raw camera frame: a 12-byte header (type tag, width,
// height, all little-endian 32-bit) followed by the pixels, top row first,
// rows without padding, samples interleaved.
struct RawFrame {
    // The tag's four bytes read "RAW1", "RAW2" or "RAW3".
    enum class Type : quint32 {
        mono8 = 0x31574152,   // 8-bit monochrome
        mono16 = 0x32574152,  // 16-bit monochrome, little-endian samples
        rgb24 = 0x33574152,   // 8-bit R, G, B
    };
    static constexpr qint64 headerSize = 12;

    Type type;
    int width;
    int height;

    // True when the data begins with "RAW" (the decoder claims such data).
    static bool hasRawPrefix(QByteArrayView data);
    // True when the data begins with one of the three known tags.
    static bool hasKnownType(QByteArrayView data);
    // The header at the start of `data`: none when it is shorter than a
    // header, the tag is unknown, or a dimension is zero or beyond an int.
    static std::optional<RawFrame> parseHeader(QByteArrayView data);

    int bytesPerPixel() const;
    qint64 rowBytes() const;
    // Bytes of pixel data the header announces; none when that overflows.
    std::optional<qint64> pixelBytes() const;
    // The image format the frame decodes to.
    QImage::Format imageFormat() const;
    QByteArray headerBytes() const;
};

// A raw frame holding the image: grey 8 bits as RAW1, grey 16 bits as RAW2,
// everything else as 8-bit RGB (RAW3). Empty for a null image.
QByteArray encodeRawFrame(const QImage& image);

}  // namespace siderama
