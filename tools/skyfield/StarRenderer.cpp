#include "StarRenderer.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace skyfield {

namespace {

void addStar(Field& field, PixelPosition at, double peak, double sigma) {
    const int reach = int(std::ceil(4 * sigma));
    const int x0 = std::max(0, int(at.x) - reach), x1 = std::min(field.width - 1, int(at.x) + reach);
    const int y0 = std::max(0, int(at.y) - reach), y1 = std::min(field.height - 1, int(at.y) + reach);
    const double scale = -0.5 / (sigma * sigma);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double r2 = (x - at.x) * (x - at.x) + (y - at.y) * (y - at.y);
            field.pixels[size_t(y) * field.width + x] += float(peak * std::exp(r2 * scale));
        }
    }
}

// True when the position lies within `margin` pixels of the image.
bool near(const Field& field, PixelPosition at, double margin) {
    return at.x >= -margin && at.y >= -margin && at.x <= field.width - 1 + margin &&
           at.y <= field.height - 1 + margin;
}

PixelPosition distorted(const Field& field, PixelPosition at, double k) {
    const double cx = (field.width - 1) / 2.0, cy = (field.height - 1) / 2.0;
    const double halfDiagonal = std::hypot(cx, cy);
    const double r = std::hypot(at.x - cx, at.y - cy) / halfDiagonal;
    const double factor = 1 + k * r * r;
    return {cx + (at.x - cx) * factor, cy + (at.y - cy) * factor};
}

// Large soft glows, bright enough to saturate their cores, like nebulae.
void addBlobs(Field& field, const RenderSettings& settings, std::mt19937& random) {
    std::uniform_real_distribution<double> x(0, field.width), y(0, field.height);
    std::uniform_real_distribution<double> size(0.03, 0.08), peak(0.4, 1.5);
    const double diagonal = std::hypot(field.width, field.height);
    for (int i = 0; i < settings.blobs; ++i)
        addStar(field, {x(random), y(random)}, peak(random), size(random) * diagonal);
}

void addSky(Field& field, const RenderSettings& settings) {
    std::mt19937 random(settings.seed);
    addBlobs(field, settings, random);
    std::normal_distribution<float> sky(float(settings.background), float(settings.noise));
    for (float& pixel : field.pixels) pixel += sky(random);
}

}  // namespace

Field renderField(const std::vector<Star>& stars, const TanProjection& projection, int width, int height,
                  const RenderSettings& settings, int& drawn) {
    Field field{width, height, std::vector<float>(size_t(width) * height, 0.0f)};
    drawn = 0;
    for (const Star& star : stars) {
        auto at = projection.project(star.ra, star.dec);
        if (at && settings.distortion != 0) at = distorted(field, *at, settings.distortion);
        if (!at || !near(field, *at, 8 * settings.starSigma)) continue;
        drawn += near(field, *at, 0);
        const double peak = settings.peakAtMagnitude10 * std::pow(10.0, -0.4 * (star.magnitude - 10.0));
        addStar(field, *at, peak, settings.starSigma);
    }
    addSky(field, settings);
    for (float& pixel : field.pixels) pixel = std::clamp(pixel, 0.0f, 1.0f);
    return field;
}

}  // namespace skyfield
