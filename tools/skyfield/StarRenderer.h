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
    // What a wide-angle lens and a real sky add to a photo:
    double vignetting = 0.0;  // corners darker by this fraction (light falls off as 1 - v r^2)
    double gradient = 0.0;    // sky brighter by this much from the top edge to the bottom one
    double band = 0.0;        // peak of a diagonal band of mottled diffuse light (a Milky Way)
    double foreground = 0.0;  // radius of a bright disc rising from the bottom edge, in image heights
};

// Gaussian stars (brightness from magnitude, clipped at 1) on a noisy sky,
// optionally distorted, with bright blobs and the photo effects above.
// Returns the field; `drawn` receives the number of stars inside the image.
Field renderField(const std::vector<Star>& stars, const TanProjection& projection, int width, int height,
                  const RenderSettings& settings, int& drawn);

}  // namespace skyfield
