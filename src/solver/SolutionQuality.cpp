#include "solver/SolutionQuality.h"

#include "imaging/FitsTable.h"

#include <cmath>

namespace siderama {

namespace {

// Angular distance in arcseconds (haversine, exact for small angles).
double separationArcsec(double ra1, double dec1, double ra2, double dec2) {
    constexpr double radian = M_PI / 180;
    const double a = std::pow(std::sin((dec2 - dec1) * radian / 2), 2) +
                     std::cos(dec1 * radian) * std::cos(dec2 * radian) * std::pow(std::sin((ra2 - ra1) * radian / 2), 2);
    return 2 * std::asin(std::sqrt(std::min(1.0, a))) / radian * 3600;
}

}  // namespace

std::optional<SolutionQuality> SolutionQuality::read(const QString& base) {
    const auto pairs = readFitsColumns(base + ".corr", {"field_ra", "field_dec", "index_ra", "index_dec"});
    if (!pairs) return std::nullopt;
    const auto& c = *pairs;
    SolutionQuality quality;
    quality.matchedStars = int(c[0].size());
    if (quality.matchedStars > 0) {
        double sum = 0;
        for (size_t i = 0; i < c[0].size(); ++i) sum += std::pow(separationArcsec(c[0][i], c[1][i], c[2][i], c[3][i]), 2);
        quality.rmsArcsec = std::sqrt(sum / quality.matchedStars);
    }
    if (const auto odds = readFitsColumns(base + ".match", {"LOGODDS"}); odds && !(*odds)[0].empty())
        quality.logOdds = (*odds)[0].front();
    return quality;
}

nlohmann::json SolutionQuality::toJson() const {
    return {{"matched_stars", matchedStars},
            {"rms_arcsec", rmsArcsec ? nlohmann::json(*rmsArcsec) : nlohmann::json()},
            {"log_odds", logOdds ? nlohmann::json(*logOdds) : nlohmann::json()}};
}

QString SolutionQuality::describe() const {
    QString text = QString("%1 matched stars").arg(matchedStars);
    if (rmsArcsec) text += QString(", RMS %1″").arg(*rmsArcsec, 0, 'f', 2);
    if (logOdds) text += QString(", log-odds %1").arg(*logOdds, 0, 'f', 1);
    return text;
}

}  // namespace siderama
