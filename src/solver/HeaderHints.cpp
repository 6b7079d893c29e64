#include "solver/HeaderHints.h"

#include "solver/FitsHeader.h"

#include <QRegularExpression>
#include <cmath>

namespace siderama {

namespace {

constexpr double arcsecPerRadian = 206264.806;

std::optional<double> wcsScale(const FitsHeader& header) {
    const auto cd11 = header.number("CD1_1"), cd12 = header.number("CD1_2");
    const auto cd21 = header.number("CD2_1"), cd22 = header.number("CD2_2");
    if (cd11 && cd22) {
        const double determinant = *cd11 * *cd22 - cd12.value_or(0) * cd21.value_or(0);
        if (determinant != 0) return std::sqrt(std::abs(determinant)) * 3600;
    }
    if (const auto cdelt = header.number("CDELT1"); cdelt && *cdelt != 0) return std::abs(*cdelt) * 3600;
    return std::nullopt;
}

std::optional<double> opticsScale(const FitsHeader& header) {
    const auto focal = header.number("FOCALLEN");
    if (!focal || *focal <= 0) return std::nullopt;
    double pixel = 0;  // microns on the sky's side of binning
    if (const auto binned = header.number("XPIXSZ")) pixel = *binned;
    else if (const auto unbinned = header.number("PIXSIZE1")) pixel = *unbinned * header.number("XBINNING").value_or(1);
    if (pixel <= 0) return std::nullopt;
    return arcsecPerRadian * pixel / 1000 / *focal;
}

}  // namespace

SolveHint HeaderHints::read(const FitsHeader& header) {
    SolveHint hint;
    readScale(header, hint);
    readPosition(header, hint);
    return hint;
}

void HeaderHints::readScale(const FitsHeader& header, SolveHint& hint) {
    const std::pair<std::optional<double>, const char*> candidates[] = {
        {wcsScale(header), "WCS"},
        {header.firstNumber({"PIXSCALE", "SCALE"}), "SCALE"},
        {opticsScale(header), "FOCALLEN"}};
    for (const auto& [scale, source] : candidates) {
        if (!scale || *scale <= 0) continue;
        hint.scale = scaleWindow(*scale, tolerance);
        hint.sources << source;
        return;
    }
}

void HeaderHints::readPosition(const FitsHeader& header, SolveHint& hint) {
    const std::pair<const char*, const char*> pairs[] = {
        {"CRVAL1", "CRVAL2"}, {"RA", "DEC"}, {"OBJCTRA", "OBJCTDEC"}};
    for (const auto& [raKey, decKey] : pairs) {
        const auto raText = header.text(raKey), decText = header.text(decKey);
        if (!raText || !decText) continue;
        // Sexagesimal right ascension is in hours; decimal in degrees.
        const auto ra = angle(*raText, true), dec = angle(*decText, false);
        if (!ra || !dec || *dec < -90 || *dec > 90) continue;
        hint.ra = std::fmod(*ra + 360, 360);
        hint.dec = dec;
        hint.sources << raKey;
        return;
    }
}

std::optional<double> HeaderHints::angle(const QString& text, bool hours) {
    bool ok = false;
    const double decimal = text.toDouble(&ok);
    if (ok) return decimal;
    static const QRegularExpression sexagesimal(R"(^\s*([+-]?)(\d+)[\s:hd°]+(\d+)[\s:m']+(\d+(?:\.\d*)?)\s*[s"]?\s*$)");
    const QRegularExpressionMatch match = sexagesimal.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const double value = match.captured(2).toDouble() + match.captured(3).toDouble() / 60 +
                         match.captured(4).toDouble() / 3600;
    return (match.captured(1) == "-" ? -value : value) * (hours ? 15 : 1);
}

}  // namespace siderama
