#include "solver/SkyWcs.h"

extern "C" {
#include "astrometry/sip-utils.h"
#include "astrometry/sip.h"
#include "astrometry/sip_qfits.h"
}

#include <cmath>

namespace siderama {

namespace {

constexpr qsizetype cardSize = 80;

}  // namespace

struct SkyWcs::Data {
    sip_t sip;
};

std::optional<SkyWcs> SkyWcs::fromHeader(const QByteArray& header) {
    // The library reads cards up to an END card and trusts that there is one.
    qsizetype end = 0;
    while (end + cardSize <= header.size() && !header.mid(end, cardSize).startsWith("END     ")) end += cardSize;
    if (end + cardSize > header.size()) return std::nullopt;
    const QByteArray cards = header.left(end + cardSize);
    auto data = std::make_shared<Data>();
    if (!sip_from_string(cards.constData(), int(cards.size()), &data->sip)) return std::nullopt;
    if (data->sip.wcstan.imagew <= 0 || data->sip.wcstan.imageh <= 0) return std::nullopt;
    return SkyWcs(std::move(data));
}

SkyPoint SkyWcs::toSky(QPointF pixel) const {
    SkyPoint sky{};
    sip_pixelxy2radec(&data->sip, pixel.x() + fitsPixelOffset, pixel.y() + fitsPixelOffset, &sky.ra, &sky.dec);
    return sky;
}

std::optional<QPointF> SkyWcs::toPixel(SkyPoint sky) const {
    double x = 0, y = 0;
    if (!sip_radec2pixelxy(&data->sip, sky.ra, sky.dec, &x, &y)) return std::nullopt;
    return fromFitsPixel(x, y);
}

QSizeF SkyWcs::imageSize() const { return {data->sip.wcstan.imagew, data->sip.wcstan.imageh}; }

SkyPoint SkyWcs::centre() const {
    SkyPoint sky{};
    sip_get_radec_center(&data->sip, &sky.ra, &sky.dec);
    return sky;
}

double SkyWcs::pixelScale() const { return sip_pixel_scale(&data->sip); }
double SkyWcs::orientation() const { return sip_get_orientation(&data->sip); }
double SkyWcs::upPositionAngle() const {
    const QPointF centre(imageSize().width() / 2, imageSize().height() / 2);
    const SkyPoint from = toSky(centre), to = toSky(centre - QPointF(0, 10));
    constexpr double radian = M_PI / 180;
    const double deltaRa = (to.ra - from.ra) * radian, dec1 = from.dec * radian, dec2 = to.dec * radian;
    const double angle = std::atan2(std::sin(deltaRa) * std::cos(dec2),
                                    std::cos(dec1) * std::sin(dec2) - std::sin(dec1) * std::cos(dec2) * std::cos(deltaRa));
    return std::fmod(angle / radian + 360, 360);
}

int SkyWcs::parity() const { return sip_det_cd(&data->sip) >= 0 ? 1 : -1; }
double SkyWcs::radius() const { return sip_get_radius_deg(&data->sip); }

}  // namespace siderama
