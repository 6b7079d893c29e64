#pragma once

#include <QString>
#include <nlohmann/json.hpp>
#include <optional>

namespace siderama {

// How far a solution can be trusted: the stars it matched, the RMS of their
// residuals on the sky and the engine's log-odds for the match.
struct SolutionQuality {
    int matchedStars = 0;
    std::optional<double> rmsArcsec;  // none without matched stars
    std::optional<double> logOdds;    // none without the match file

    // Reads BASE.corr (matched pairs) and BASE.match (log-odds); none when
    // the .corr file cannot be read.
    static std::optional<SolutionQuality> read(const QString& base);

    // {"matched_stars": N, "rms_arcsec": x, "log_odds": y}, null when unknown.
    nlohmann::json toJson() const;
    // "N matched stars, RMS x″, log-odds y".
    QString describe() const;
};

}  // namespace siderama
