#pragma once

#include <QByteArray>
#include <QPointF>
#include <QSizeF>
#include <memory>
#include <optional>

namespace siderama {

// A sky position in degrees.
struct SkyPoint {
    double ra;
    double dec;
};

// FITS pixel positions (as the tools print them) have pixel centres on whole
// numbers from 1; image pixels as drawn start at the top-left corner, 0.
constexpr double fitsPixelOffset = 0.5;
inline QPointF fromFitsPixel(double x, double y) { return {x - fitsPixelOffset, y - fitsPixelOffset}; }

// The world coordinate system of a solved image (TAN with optional SIP
// terms), read with the plate-solving suite's own library. Pixel positions
// are image positions as drawn: (0, 0) is the top-left corner of the top-left
// pixel, FITS row 1 being the top row.
class SkyWcs {
public:
    // The WCS in a FITS header (e.g. the contents of solve-field's .wcs
    // file); none when the header holds no usable WCS.
    static std::optional<SkyWcs> fromHeader(const QByteArray& header);

    SkyPoint toSky(QPointF pixel) const;
    // None for positions on the hemisphere facing away from the image.
    std::optional<QPointF> toPixel(SkyPoint sky) const;

    QSizeF imageSize() const;
    SkyPoint centre() const;
    double pixelScale() const;   // arcseconds per pixel
    // The suite's orientation (wcsinfo's and the astrometry.net API's): 180
    // for an image with north up.
    double orientation() const;
    // Where the image's up points at its centre, as a position angle:
    // degrees east of north in [0, 360).
    double upPositionAngle() const;
    // 1 when the image shows the sky as seen, -1 when mirrored (the sign of
    // the CD matrix determinant with FITS row 1 drawn at the top).
    int parity() const;
    double radius() const;       // degrees from the centre to a corner

private:
    struct Data;
    explicit SkyWcs(std::shared_ptr<const Data> data) : data(std::move(data)) {}

    std::shared_ptr<const Data> data;
};

}  // namespace siderama
