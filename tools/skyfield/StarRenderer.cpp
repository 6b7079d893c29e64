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

// Mottled light along the diagonal from the bottom-left corner: a Gaussian
// profile across, modulated by overlapping clumps.
double bandAt(double u, double v, double along, double peak) {
    const double across = std::exp(-0.5 * v * v / 0.02);
    const double clumps = 0.6 + 0.25 * std::sin(9 * along + 2 * u) * std::sin(5 * along - 3 * v) +
                          0.15 * std::sin(23 * along + 11 * v);
    return peak * across * clumps;
}

// The light at (x, y) of the sky (gradient, band) and of a lit foreground
// object: a disc rising from the bottom edge that hides the stars behind it,
// with a glow around it.
double diffuseLight(const Field& field, const RenderSettings& settings, int x, int y, float& pixel) {
    const double u = double(x) / field.width, v = double(y) / field.height;
    double light = settings.gradient * v;
    if (settings.band > 0) {
        const double along = (u + (1 - v)) / std::sqrt(2.0), across = (u - (1 - v)) / std::sqrt(2.0);
        light += bandAt(u, across, along, settings.band);
    }
    if (settings.foreground > 0) {
        const double dx = (u - 0.7) * field.width / field.height, dy = v - 1.05;
        const double edge = std::hypot(dx, dy) - settings.foreground;
        if (edge < 0) pixel = 0.8f + float(0.1 * std::sin(40 * u) * std::sin(30 * v));
        else light += 0.5 * std::exp(-edge / 0.03);
    }
    return light;
}

// Fall-off of the lens towards the corners, r in half diagonals.
double vignetting(const Field& field, double strength, int x, int y) {
    const double cx = (field.width - 1) / 2.0, cy = (field.height - 1) / 2.0;
    const double r2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (cx * cx + cy * cy);
    return 1 - strength * r2;
}

void addSky(Field& field, const RenderSettings& settings) {
    std::mt19937 random(settings.seed);
    addBlobs(field, settings, random);
    std::normal_distribution<float> sky(float(settings.background), float(settings.noise));
    const bool photo = settings.vignetting > 0 || settings.gradient > 0 || settings.band > 0 || settings.foreground > 0;
    for (int y = 0; y < field.height; ++y)
        for (int x = 0; x < field.width; ++x) {
            float& pixel = field.pixels[size_t(y) * field.width + x];
            if (photo) {
                const double light = diffuseLight(field, settings, x, y, pixel);
                pixel = float((pixel + light) * vignetting(field, settings.vignetting, x, y));
            }
            pixel += sky(random);
        }
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
