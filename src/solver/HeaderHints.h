#pragma once

#include "solver/SolveHint.h"

namespace siderama {

class FitsHeader;

// What a FITS header already tells about the pixel scale and the position:
// an existing WCS (CD matrix or CDELT, CRVAL), SCALE/PIXSCALE, FOCALLEN with
// XPIXSZ (binned, as MaxIm DL and ASCOM write it) or PIXSIZE1 times
// XBINNING, and RA/DEC or OBJCTRA/OBJCTDEC.
class HeaderHints {
public:
    static SolveHint read(const FitsHeader& header);
    // A sexagesimal or decimal angle: "05 35 17.3", "5:35:17.3", "-05 23 28",
    // "83.82"; `hours` multiplies sexagesimal values by 15.
    static std::optional<double> angle(const QString& text, bool hours);

    // The fraction a header scale may be off (rounded focal lengths, reducers).
    static constexpr double tolerance = 0.05;

private:
    static void readScale(const FitsHeader& header, SolveHint& hint);
    static void readPosition(const FitsHeader& header, SolveHint& hint);
};

}  // namespace siderama
