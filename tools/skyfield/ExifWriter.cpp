#include "ExifWriter.h"

#include <QFile>
#include <QSaveFile>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libexif/exif-data.h>

namespace skyfield {

namespace {

ExifEntry* addEntry(ExifData* exif, ExifIfd folder, ExifTag tag, ExifFormat format, unsigned components) {
    ExifMem* memory = exif_mem_new_default();
    ExifEntry* entry = exif_entry_new_mem(memory);
    entry->size = exif_format_get_size(format) * components;
    entry->data = static_cast<unsigned char*>(exif_mem_alloc(memory, entry->size));
    entry->tag = tag;
    entry->format = format;
    entry->components = components;
    exif_content_add_entry(exif->ifd[folder], entry);
    exif_mem_unref(memory);
    exif_entry_unref(entry);
    return entry;
}

void setRational(ExifEntry* entry, double value) {
    exif_set_rational(entry->data, EXIF_BYTE_ORDER_INTEL, {ExifLong(std::lround(value * 1000)), 1000});
}

// The EXIF block as an APP1 segment's payload ("Exif\0\0" and the TIFF data).
QByteArray exifBlock(double focal, double pitch, int width) {
    ExifData* exif = exif_data_new();
    exif_data_set_byte_order(exif, EXIF_BYTE_ORDER_INTEL);
    const QByteArray model("Skyfield camera", 16);
    std::memcpy(addEntry(exif, EXIF_IFD_0, EXIF_TAG_MODEL, EXIF_FORMAT_ASCII, model.size())->data, model.data(),
                model.size());
    setRational(addEntry(exif, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH, EXIF_FORMAT_RATIONAL, 1), focal);
    setRational(addEntry(exif, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_PLANE_X_RESOLUTION, EXIF_FORMAT_RATIONAL, 1),
                1e4 / pitch);  // pixels per centimetre
    exif_set_short(addEntry(exif, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_PLANE_RESOLUTION_UNIT, EXIF_FORMAT_SHORT, 1)->data,
                   EXIF_BYTE_ORDER_INTEL, 3);
    exif_set_long(addEntry(exif, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, EXIF_FORMAT_LONG, 1)->data,
                  EXIF_BYTE_ORDER_INTEL, ExifLong(width));
    unsigned char* bytes = nullptr;
    unsigned int size = 0;
    exif_data_save_data(exif, &bytes, &size);
    const QByteArray block(reinterpret_cast<const char*>(bytes), int(size));
    std::free(bytes);
    exif_data_unref(exif);
    return block;
}

}  // namespace

bool addCameraExif(const QString& jpeg, double focal, double pitch, int width) {
    QFile in(jpeg);
    if (!in.open(QIODevice::ReadOnly)) return false;
    const QByteArray image = in.readAll();
    const QByteArray block = exifBlock(focal, pitch, width);
    if (!image.startsWith("\xFF\xD8") || block.isEmpty() || block.size() > 65000) {
        std::fprintf(stderr, "skyfield: cannot add EXIF to %s\n", qPrintable(jpeg));
        return false;
    }
    const int length = int(block.size()) + 2;
    QSaveFile out(jpeg);
    if (!out.open(QIODevice::WriteOnly)) return false;
    out.write(image.left(2) + "\xFF\xE1" + char(length >> 8) + char(length & 0xFF) + block + image.mid(2));
    return out.commit();
}

}  // namespace skyfield
