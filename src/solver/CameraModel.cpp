#include "solver/CameraModel.h"

#include "solver/FitsHeader.h"

#include <QFile>
#include <QtEndian>

namespace siderama {

namespace {

constexpr qint64 headBytes = 256 * 1024;  // EXIF sits near the start of a file
constexpr quint16 modelTag = 0x0110;

struct TiffReader {
    const QByteArray& data;
    bool little;

    bool has(qsizetype at, qsizetype size) const { return at >= 0 && at + size <= data.size(); }
    quint16 u16(qsizetype at) const {
        const auto* p = reinterpret_cast<const uchar*>(data.constData() + at);
        return little ? qFromLittleEndian<quint16>(p) : qFromBigEndian<quint16>(p);
    }
    quint32 u32(qsizetype at) const {
        const auto* p = reinterpret_cast<const uchar*>(data.constData() + at);
        return little ? qFromLittleEndian<quint32>(p) : qFromBigEndian<quint32>(p);
    }
};

}  // namespace

QString CameraModel::read(const QString& imagePath, const FitsHeader& header) {
    for (const char* keyword : {"INSTRUME", "CAMERA"})
        if (const auto name = header.text(keyword)) return name->simplified();
    QFile file(imagePath);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray head = file.read(headBytes);
    return exifModel(head.startsWith("\xFF\xD8") ? jpegExif(head) : head);
}

// The TIFF structure inside a JPEG's APP1 Exif segment.
QByteArray CameraModel::jpegExif(const QByteArray& jpeg) {
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF) {
        const int marker = uchar(jpeg[at + 1]);
        const int length = (uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]);
        if (marker == 0xE1 && jpeg.mid(at + 4, 6) == QByteArray("Exif\0\0", 6)) return jpeg.mid(at + 10, length - 8);
        if (marker == 0xDA || length < 2) break;  // image data follows
        at += 2 + length;
    }
    return {};
}

QString CameraModel::exifModel(const QByteArray& tiff) {
    if (tiff.size() < 8 || !(tiff.startsWith("II*") || tiff.startsWith("MM\0*"))) return {};
    const TiffReader reader{tiff, tiff[0] == 'I'};
    const qsizetype directory = reader.u32(4);
    if (!reader.has(directory, 2)) return {};
    const int entries = reader.u16(directory);
    for (int i = 0; i < entries; ++i) {
        const qsizetype entry = directory + 2 + 12 * i;
        if (!reader.has(entry, 12)) return {};
        if (reader.u16(entry) != modelTag) continue;
        const qsizetype count = reader.u32(entry + 4);
        const qsizetype at = count <= 4 ? entry + 8 : qsizetype(reader.u32(entry + 8));
        if (!reader.has(at, count)) return {};
        return QString::fromLatin1(tiff.mid(at, count)).remove(QChar(0)).simplified();
    }
    return {};
}

}  // namespace siderama
