#include "imaging/ImagePreview.h"

#include "imaging/ImageFormats.h"

#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <cmath>
#include <fitsio.h>
#include <memory>
#include <vector>

namespace siderama {

namespace {

// Grey levels from the sky background (0) to a bright star (255): the range
// between two quantiles of the samples, with a square-root curve.
QImage stretch(const std::vector<float>& samples, int width, int height) {
    std::vector<float> sorted(samples);
    const auto at = [&sorted](double quantile) {
        auto nth = sorted.begin() + std::ptrdiff_t(quantile * double(sorted.size() - 1));
        std::nth_element(sorted.begin(), nth, sorted.end());
        return *nth;
    };
    const float low = at(0.25), high = std::max(at(0.9995), low + 1e-6f);
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const float level = std::clamp((samples[size_t(y) * width + x] - low) / (high - low), 0.0f, 1.0f);
            line[x] = uchar(std::lround(std::sqrt(level) * 255));
        }
    }
    return image;
}

ImagePreview loadFits(const QString& path, int maxSide) {
    ImagePreview preview;
    int status = 0;
    fitsfile* file = nullptr;
    fits_open_diskfile(&file, QFile::encodeName(path).constData(), READONLY, &status);
    const std::unique_ptr<fitsfile, void (*)(fitsfile*)> guard(file, [](fitsfile* f) {
        int ignored = 0;
        if (f) fits_close_file(f, &ignored);
    });
    int dimensions = 0;
    long axes[3] = {0, 0, 1};
    fits_get_img_param(file, 3, nullptr, &dimensions, axes, &status);
    if (status || dimensions < 2 || axes[0] <= 0 || axes[1] <= 0) {
        preview.error = "no image in " + path;
        return preview;
    }
    preview.fullSize = QSize(int(axes[0]), int(axes[1]));
    // Every step-th sample of every step-th row: the reduction costs no memory.
    const long step = std::max(1L, (std::max(axes[0], axes[1]) + maxSide - 1) / maxSide);
    long first[3] = {1, 1, 1}, last[3] = {axes[0], axes[1], 1}, increment[3] = {step, step, 1};
    const int width = int((axes[0] + step - 1) / step), height = int((axes[1] + step - 1) / step);
    std::vector<float> samples(size_t(width) * height);
    fits_read_subset(file, TFLOAT, first, last, increment, nullptr, samples.data(), nullptr, &status);
    if (status) {
        preview.error = "cannot read the image in " + path;
        return preview;
    }
    preview.image = stretch(samples, width, height);
    return preview;
}

ImagePreview loadImage(const QString& path, int maxSide) {
    ImagePreview preview;
    QImageReader reader(path);
    // Pixels as stored, as the conversion for the tools reads them.
    reader.setAutoTransform(false);
    preview.fullSize = reader.size();
    if (preview.fullSize.isValid() && std::max(preview.fullSize.width(), preview.fullSize.height()) > maxSide)
        reader.setScaledSize(preview.fullSize.scaled(maxSide, maxSide, Qt::KeepAspectRatio));
    preview.image = reader.read();
    if (preview.image.isNull()) {
        preview.error = "cannot decode " + path + ": " + reader.errorString();
        return preview;
    }
    if (!preview.fullSize.isValid()) preview.fullSize = preview.image.size();
    return preview;
}

}  // namespace

ImagePreview ImagePreview::load(const QString& path, int maxSide) {
    QFile file(path);
    const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(16) : QByteArray();
    if (isFitsPath(path) || imageExtensionForData(head) == "fits") return loadFits(path, maxSide);
    return loadImage(path, maxSide);
}

}  // namespace siderama
