#include "imaging/ImagingTestSupport.h"

#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QUuid>
#include <QtEndian>

#include <gtest/gtest.h>

namespace imagingtest {

QString scratchDirectory() {
    const QString path = QDir::tempPath() + "/imaging-" + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(path);
    return path;
}

QString saveImage(const QImage& image, const QString& path, const char* format) {
    QImageWriter writer(path, format);
    EXPECT_TRUE(writer.write(image)) << qPrintable(writer.errorString());
    return path;
}

QString writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    return path;
}

QByteArray rawFrame(const char* tag, quint32 width, quint32 height, const QByteArray& pixels) {
    QByteArray frame(tag, 4);
    char word[4];
    qToLittleEndian(width, word);
    frame.append(word, 4);
    qToLittleEndian(height, word);
    frame.append(word, 4);
    return frame + pixels;
}

}  // namespace imagingtest
