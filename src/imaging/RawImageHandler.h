#pragma once

#include <QImageIOHandler>

namespace siderama {

// Reads and writes raw camera frames (see RawFrame) through QImageReader and
// QImageWriter. Reading recognises the data by its "RAW" prefix.
class RawImageHandler : public QImageIOHandler {
public:
    // True when the device's next bytes begin with "RAW" (peeked, not read).
    static bool canRead(QIODevice* device);

    bool canRead() const override;
    bool read(QImage* image) override;
    bool write(const QImage& image) override;
    // The size, from the header alone.
    bool supportsOption(ImageOption option) const override { return option == Size; }
    QVariant option(ImageOption option) const override;
};

}  // namespace siderama
