#include "imaging/Convert.h"

#include "imaging/FitsWriter.h"
#include "imaging/MonoPixels.h"
#include "imaging/ImagingLog.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <mutex>
#include <new>

namespace siderama {

namespace {

// Qt refuses to decode images above 256 MB by default; astronomical frames
// are often larger (a 12000 x 8000 48-bit TIFF takes 768 MB). The limit is
// process-wide, so it is raised once.
constexpr int decodeLimitMegabytes = 16 * 1024;

void raiseDecodeLimit() {
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(decodeLimitMegabytes); });
}

std::optional<QByteArray> readSource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcImaging).noquote() << QString("Cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

// Decodes by content alone, so the file name never decides the format.
QImage decode(const QByteArray& data, const QString& path) {
    raiseDecodeLimit();
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QImage image = reader.read();
    if (image.isNull())
        qCWarning(lcImaging).noquote() << QString("Cannot decode %1: %2").arg(path, reader.errorString());
    return image;
}

bool convertImage(const QImage& image, const QString& source, const QString& destination) {
    const auto mono = monoPixels(image);
    if (!mono) {
        qCWarning(lcImaging).noquote()
            << QString("Cannot convert %1: unsupported pixel layout (QImage format %2)").arg(source).arg(int(image.format()));
        return false;
    }
    return writeFits(destination, image.width(), image.height(), *mono);
}

}  // namespace

bool Convert(const QString& source, const QString& destination) {
    try {
        const auto data = readSource(source);
        if (!data) return false;
        const QImage image = decode(*data, source);
        return !image.isNull() && convertImage(image, source, destination);
    } catch (const std::bad_alloc&) {
        qCWarning(lcImaging).noquote() << QString("Cannot convert %1: out of memory").arg(source);
        return false;
    }
}

}  // namespace siderama
