#include "solver/SolvePaths.h"

#include "imaging/FitsPath.h"

#include <QFileInfo>
#include <cmath>

namespace siderama {

namespace {

// The path without the extension of its last component.
QString withoutExtension(const QString& path) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf('.');
    if (dot <= 0) return path;
    return path.left(path.size() - (name.size() - dot));
}

}  // namespace

SolvePaths::SolvePaths(const QString& inputPath)
    : input(inputPath),
      base(withoutExtension(inputPath)),
      fits(isFitsPath(inputPath) ? inputPath : base + ".fits"),
      needsConversion(!isFitsPath(inputPath)),
      xyList(base + ".xy"),
      wcs(base + ".wcs"),
      wcsImage(base + "_wcs.fits") {}

SolvePaths::SolvePaths(const QString& inputPath, const QString& folder)
    : SolvePaths(folder + "/" + QFileInfo(inputPath).fileName()) {
    input = inputPath;
    if (!needsConversion) fits = inputPath;
}

QStringList SolvePaths::intermediateFiles() const {
    return {xyList, wcs, base + ".axy", base + ".corr", base + ".match",
            base + ".rdls", base + ".solved", base + "-indx.xyls"};
}

QString formatSeconds(double seconds) {
    const double rounded = std::round(seconds * 100) / 100;
    QString text = QString::number(rounded, 'f', 2);
    if (text.endsWith('0')) text.chop(1);
    return text;
}

}  // namespace siderama
