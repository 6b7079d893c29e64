#pragma once

// Helpers shared by the imaging tests: a scratch directory and image files.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace imagingtest {

// A fresh directory below the test's private temporary directory.
QString scratchDirectory();

// Writes an image with QImageWriter ("png", "tiff", "jpeg", "raw"); fails the
// test when that is not possible.
QString saveImage(const QImage& image, const QString& path, const char* format);

// Writes raw bytes to a file and returns its path.
QString writeBytes(const QString& path, const QByteArray& bytes);

// A raw frame: tag ("RAW1" ...), width and height (little-endian), then `pixels`.
QByteArray rawFrame(const char* tag, quint32 width, quint32 height, const QByteArray& pixels);

}  // namespace imagingtest
