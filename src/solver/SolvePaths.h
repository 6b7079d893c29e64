#pragma once

#include <QString>
#include <QStringList>

namespace siderama {

// The files of one solve, all derived from the input path.
struct SolvePaths {
    explicit SolvePaths(const QString& input);
    // The same files in `folder` instead of beside the input (a FITS input
    // is still read where it is).
    SolvePaths(const QString& input, const QString& folder);

    QString input;
    QString base;      // the input without its extension
    QString fits;      // the image the tools read
    bool needsConversion;
    QString xyList;
    QString wcs;
    QString wcsImage;  // the result, kept beside the input

    // What solve-field and image2xy leave behind, in the order they go to
    // the Trash (the converted image is not among them).
    QStringList intermediateFiles() const;
};

// Elapsed seconds rounded to hundredths, with at least one decimal:
// 12.344 -> "12.34", 12.3 -> "12.3", 7 -> "7.0".
QString formatSeconds(double seconds);

}  // namespace siderama
