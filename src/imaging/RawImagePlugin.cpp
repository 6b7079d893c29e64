#include "imaging/RawImagePlugin.h"

#include "imaging/RawImageHandler.h"

namespace siderama {

QImageIOPlugin::Capabilities RawImagePlugin::capabilities(QIODevice* device,
                                                          const QByteArray& format) const {
    if (format == "raw") return CanRead | CanWrite;
    if (!format.isEmpty() || !device || !device->isOpen()) return {};
    Capabilities found;
    if (device->isReadable() && RawImageHandler::canRead(device)) found |= CanRead;
    return found;
}

QImageIOHandler* RawImagePlugin::create(QIODevice* device, const QByteArray& format) const {
    auto* handler = new RawImageHandler;
    handler->setDevice(device);
    handler->setFormat(format);
    return handler;
}

}  // namespace siderama
