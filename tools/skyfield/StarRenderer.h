#pragma once

#include "StarCatalog.h"
#include "TanProjection.h"

#include <cstdint>
#include <vector>

namespace skyfield {

// A rendered field: brightness per pixel in [0, 1], row-major, top row first.
struct Field {
    int width;
    int height;
    std::vector<float> pixels;
};

struct RenderSettings {
    double starSigma = 1.4;         // Gaussian width in pixels
    double background = 0.04;       // sky level
    double noise = 0.004;           // standard deviation of the sky noise
    double peakAtMagnitude10 = 0.02; // peak above the sky of a magnitude-10 star
    unsigned seed = 1;
    int blobs = 0;            // bright extended glows (nebulosity) added to the sky
    double distortion = 0.0;  // radial lens distortion: r -> r (1 + k r^2), r in half diagonals
};

// Gaussian stars (brightness from magnitude, clipped at 1) on a noisy sky,
// optionally distorted and with bright blobs.
// Returns the field; `drawn` receives the number of stars inside the image.
Field renderField(const std::vector<Star>& stars, const TanProjection& projection, int width, int height,
                  const RenderSettings& settings, int& drawn);

}  // namespace skyfield
