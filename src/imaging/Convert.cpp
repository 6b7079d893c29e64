#include "imaging/Convert.h"

#include "imaging/FitsWriter.h"
#include "imaging/ImageFormats.h"
#include "imaging/MonoPixels.h"
#include "imaging/ImagingLog.h"

#include <QFile>
#include <QImageReader>

#include <new>
#include <optional>

namespace siderama {

namespace {

// Qt's reader names for the formats recognised by content.
QByteArray readerFormat(const QByteArray& leading) {
    const QString extension = imageExtensionForData(leading);
    if (extension == "jpg") return "jpeg";
    if (extension == "png" || extension == "tiff" || extension == "raw") return extension.toLatin1();
    return {};
}

// Decodes with the one reader that the content names, after checking the
// size the header announces. Fills `reason` when it gives a null image.
QImage decode(QFile& file, qint64 maxPixels, QString& reason) {
    const QByteArray format = readerFormat(file.peek(64));
    if (format.isEmpty()) {
        reason = "not a JPEG/PNG/TIFF image or a raw frame";
        return {};
    }
    QImageReader reader(&file, format);
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (!size.isValid()) {
        reason = "unreadable image header";
        return {};
    }
    if (qint64(size.width()) * size.height() > maxPixels) {
        reason = QString("%1 x %2 pixels is more than the limit of %3 million")
                     .arg(size.width()).arg(size.height()).arg(maxPixels / 1e6, 0, 'f', 0);
        return {};
    }
    // Room for the largest layout (four 16-bit channels) of an allowed image.
    QImageReader::setAllocationLimit(int(std::max<qint64>(256, maxPixels * 8 >> 20) + 1));
    QImage image = reader.read();
    if (image.isNull()) reason = reader.errorString();
    return image;
}

std::optional<QString> convertFile(const QString& source, const QString& destination, qint64 maxPixels) {
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly)) return file.errorString();
    QString reason;
    QImage image = decode(file, maxPixels, reason);
    if (image.isNull()) return reason;
    const int width = image.width(), height = image.height();
    const QImage::Format format = image.format();
    const MonoRowSource rows = monoRowSource(std::move(image));
    if (!rows) return QString("unsupported pixel layout (QImage format %1)").arg(int(format));
    return writeFitsRows(destination, width, height, rows);
}

}  // namespace

bool Convert(const QString& source, const QString& destination, qint64 maxPixels, QString* reason) {
    std::optional<QString> failure;
    try {
        failure = convertFile(source, destination, maxPixels);
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    }
    if (!failure) return true;
    qCWarning(lcImaging).noquote() << QString("Cannot convert %1: %2").arg(source, *failure);
    if (reason) *reason = *failure;
    return false;
}

}  // namespace siderama
