#include "imaging/RawImageHandler.h"

#include "imaging/RawFrame.h"

#include <QIODevice>
#include <QImage>
#include <QVariant>
#include <QtEndian>

namespace siderama {

namespace {

// A random-access device must still hold every pixel the header announces;
// checked before any memory is committed to the image.
bool holdsPixels(QIODevice* device, qint64 pixelBytes) {
    return device->isSequential() || device->bytesAvailable() >= pixelBytes;
}

bool readRows(QIODevice* device, const RawFrame& frame, QImage& image) {
    const qint64 rowBytes = frame.rowBytes();
    for (int y = 0; y < frame.height; ++y) {
        char* row = reinterpret_cast<char*>(image.scanLine(y));
        if (device->read(row, rowBytes) != rowBytes) return false;
        if (frame.type == RawFrame::Type::mono16) qFromLittleEndian<quint16>(row, frame.width, row);
    }
    return true;
}

}  // namespace

bool RawImageHandler::canRead(QIODevice* device) {
    return device && RawFrame::hasRawPrefix(device->peek(3));
}

bool RawImageHandler::canRead() const {
    if (!canRead(device())) return false;
    setFormat("raw");
    return true;
}

bool RawImageHandler::read(QImage* image) {
    const auto frame = RawFrame::parseHeader(device()->read(RawFrame::headerSize));
    if (!frame) return false;
    const auto pixelBytes = frame->pixelBytes();
    if (!pixelBytes || !holdsPixels(device(), *pixelBytes)) return false;
    QImage decoded;
    if (!allocateImage(QSize(frame->width, frame->height), frame->imageFormat(), &decoded)) return false;
    if (!readRows(device(), *frame, decoded)) return false;
    *image = std::move(decoded);
    return true;
}

QVariant RawImageHandler::option(ImageOption option) const {
    if (option != Size || !device()) return {};
    const auto frame = RawFrame::parseHeader(device()->peek(RawFrame::headerSize));
    return frame ? QVariant(QSize(frame->width, frame->height)) : QVariant();
}

bool RawImageHandler::write(const QImage& image) {
    const QByteArray frame = encodeRawFrame(image);
    return !frame.isEmpty() && device()->write(frame) == frame.size();
}

}  // namespace siderama
