#include "remote/web/JobImages.h"

#include "imaging/FitsTable.h"
#include "remote/api/JobTools.h"
#include "remote/web/SkyMap.h"
#include "solver/SkyWcs.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QSaveFile>
#include <mutex>

namespace siderama {

namespace {

constexpr int displayWidth = 1024;
std::mutex making;  // each picture is made once, by one thread

std::optional<SkyWcs> solution(const QString& wcsPath) {
    QFile file(wcsPath);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return SkyWcs::fromHeader(file.readAll());
}

// The picture under the stars: the upload as Qt reads it (its top row first,
// as in the FITS the WCS belongs to), else the FITS the tools read, else
// (a star list) a black field of the image's size.
QImage backdrop(const JobFolders& folders, int job, int submission, QSize size) {
    if (QImage image(folders.input(submission)); !image.isNull()) return image.convertToFormat(QImage::Format_RGB32);
    const QString fits = folders.job(job) + "/job.fits", ppm = folders.job(job) + "/backdrop.ppm";
    if (QFileInfo::exists(fits)) {
        try {
            JobTools(folders.log(job)).run("an-fitstopnm", {"-i", fits, "-o", ppm});
            QImage image(ppm);
            QFile::remove(ppm);
            if (!image.isNull()) return image.convertToFormat(QImage::Format_RGB32);
        } catch (const JobFailure&) {
        }
    }
    QImage black(size, QImage::Format_RGB32);
    black.fill(Qt::black);
    return black;
}

// Circles at FITS pixel positions (columns x, y of `table`), scaled by `scale`.
void circle(QPainter& painter, const QString& table, const char* x, const char* y, double scale, double radius) {
    const auto columns = readFitsColumns(table, {x, y});
    if (!columns) return;
    for (size_t i = 0; i < (*columns)[0].size(); ++i)
        painter.drawEllipse(fromFitsPixel((*columns)[0][i], (*columns)[1][i]) * scale, radius, radius);
}

std::optional<QByteArray> encoded(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    if (image.isNull() || !image.save(&buffer, format, qstrcmp(format, "JPEG") == 0 ? 90 : -1)) return std::nullopt;
    return data;
}

// The cached file, or what `make` gives, kept for the next request.
template <typename Make>
std::optional<QByteArray> cached(const QString& path, Make make) {
    std::lock_guard guard(making);
    if (QFile file(path); file.open(QIODevice::ReadOnly)) return file.readAll();
    const std::optional<QByteArray> data = make();
    if (data) {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(*data) == data->size()) file.commit();
    }
    return data;
}

}  // namespace

std::optional<QByteArray> JobImages::stars(int job, int submission, Stars kind) const {
    const QString directory = folders.job(job);
    const QString name = kind == Stars::extraction ? "/extraction.jpg" : "/red_green.jpg";
    return cached(directory + name, [&]() -> std::optional<QByteArray> {
        const std::optional<SkyWcs> wcs = solution(folders.result(job, "wcs"));
        if (!wcs) return std::nullopt;
        const QSize size = wcs->imageSize().toSize();
        QImage image = backdrop(folders, job, submission, size);
        const double scale = std::min(1.0, double(displayWidth) / std::max(1, image.width()));
        if (scale < 1) image = image.scaledToWidth(displayWidth, Qt::SmoothTransformation);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::NoBrush);
        const double radius = std::max(4.0, image.width() / 120.0);
        painter.setPen(QPen(QColor(255, 40, 40), 1.5));
        circle(painter, folders.result(job, "axy"), "X", "Y", scale, radius);
        if (kind == Stars::redGreen) {
            painter.setPen(QPen(QColor(40, 255, 40), 1.5));
            circle(painter, folders.result(job, "corr"), "index_x", "index_y", scale, radius * 1.6);
        }
        painter.end();
        return encoded(image, "JPEG");
    });
}

std::optional<QByteArray> JobImages::skyPlot(int job, int zoom) const {
    if (zoom < 0 || zoom >= SkyMap::zoomLevels) return std::nullopt;
    return cached(folders.job(job) + "/sky_zoom" + QString::number(zoom) + ".png", [&]() -> std::optional<QByteArray> {
        const std::optional<SkyWcs> wcs = solution(folders.result(job, "wcs"));
        if (!wcs) return std::nullopt;
        return encoded(SkyMap::draw(*wcs, zoom, zoom == 0 ? QSize(800, 400) : QSize(600, 600)), "PNG");
    });
}

}  // namespace siderama
