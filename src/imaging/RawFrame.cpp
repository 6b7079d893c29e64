#include "imaging/RawFrame.h"

#include <QtEndian>

#include <limits>

namespace siderama {

namespace {

quint32 wordAt(QByteArrayView data, qsizetype offset) {
    return qFromLittleEndian<quint32>(data.data() + offset);
}

void appendWord(QByteArray& out, quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

RawFrame::Type typeFor(QImage::Format format) {
    switch (format) {
    case QImage::Format_Grayscale8: return RawFrame::Type::mono8;
    case QImage::Format_Grayscale16: return RawFrame::Type::mono16;
    default: return RawFrame::Type::rgb24;
    }
}

}  // namespace

bool RawFrame::hasRawPrefix(QByteArrayView data) { return data.startsWith("RAW"); }

bool RawFrame::hasKnownType(QByteArrayView data) {
    if (data.size() < 4) return false;
    const auto tag = Type(wordAt(data, 0));
    return tag == Type::mono8 || tag == Type::mono16 || tag == Type::rgb24;
}

std::optional<RawFrame> RawFrame::parseHeader(QByteArrayView data) {
    if (data.size() < headerSize || !hasKnownType(data)) return std::nullopt;
    const quint32 width = wordAt(data, 4);
    const quint32 height = wordAt(data, 8);
    constexpr quint32 largest = std::numeric_limits<int>::max();
    if (width == 0 || height == 0 || width > largest || height > largest) return std::nullopt;
    return RawFrame{Type(wordAt(data, 0)), int(width), int(height)};
}

int RawFrame::bytesPerPixel() const {
    switch (type) {
    case Type::mono8: return 1;
    case Type::mono16: return 2;
    case Type::rgb24: return 3;
    }
    return 0;
}

qint64 RawFrame::rowBytes() const { return qint64(width) * bytesPerPixel(); }

std::optional<qint64> RawFrame::pixelBytes() const {
    qint64 bytes = 0;
    if (__builtin_mul_overflow(rowBytes(), qint64(height), &bytes)) return std::nullopt;
    return bytes;
}

QImage::Format RawFrame::imageFormat() const {
    switch (type) {
    case Type::mono8: return QImage::Format_Grayscale8;
    case Type::mono16: return QImage::Format_Grayscale16;
    case Type::rgb24: return QImage::Format_RGB888;
    }
    return QImage::Format_Invalid;
}

QByteArray RawFrame::headerBytes() const {
    QByteArray header;
    appendWord(header, quint32(type));
    appendWord(header, quint32(width));
    appendWord(header, quint32(height));
    return header;
}

QByteArray encodeRawFrame(const QImage& image) {
    if (image.isNull()) return {};
    const RawFrame frame{typeFor(image.format()), image.width(), image.height()};
    const QImage pixels = image.convertToFormat(frame.imageFormat());
    QByteArray out = frame.headerBytes();
    out.reserve(RawFrame::headerSize + *frame.pixelBytes());
    for (int y = 0; y < frame.height; ++y) {
        const qsizetype start = out.size();
        out.append(reinterpret_cast<const char*>(pixels.constScanLine(y)), frame.rowBytes());
        if (frame.type == RawFrame::Type::mono16) {
            qToLittleEndian<quint16>(out.constData() + start, frame.width, out.data() + start);
        }
    }
    return out;
}

}  // namespace siderama
