#pragma once

#include <QImage>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace siderama {

// Reduces a decoded image to one unsigned 16-bit value per pixel, row-major
// without padding, top row first. The rule follows the sample layout:
//   grey, 8 bits             the sample (0-255)
//   grey, 16 bits            the sample (0-65535)
//   colour, 8 bits/channel   R + G + B, not divided (0-765); alpha ignored
//   colour, 16 bits/channel  (R + G + B) / 3, rounded down (0-65535)
// Palette and 1-bit images count as grey when every colour of their table is
// grey, as 8-bit colour otherwise. Premultiplied colour is un-premultiplied
// first. Other layouts (and null images) give none.
std::optional<std::vector<uint16_t>> monoPixels(const QImage& image);

// The same rule one row at a time, so that no second copy of the image is
// needed: a function that fills `row` (width values) with mono row `y`. It
// holds the image (converted first when its layout needs it, the given one
// then released); none for unsupported layouts.
using MonoRowSource = std::function<void(qint64 y, uint16_t* row)>;
MonoRowSource monoRowSource(QImage image);

}  // namespace siderama
