#pragma once

// Image-format plugin for raw camera frames ("RAW1", "RAW2", "RAW3"). It is
// built as a static Qt plugin that every target linking siderama_imaging gets;
// a program activates it once, before it decodes images (first step of
// start-up), with
//
//     #include <QtPlugin>
//     Q_IMPORT_PLUGIN(RawImagePlugin)
//
// at namespace scope in one of its source files. From then on QImageReader
// recognises raw frames by content, whatever the file name, and QImageWriter
// writes them under the format name "raw".

#include <QImageIOPlugin>

namespace siderama {

class RawImagePlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "RawImagePlugin.json")

public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format = QByteArray()) const override;
};

}  // namespace siderama
