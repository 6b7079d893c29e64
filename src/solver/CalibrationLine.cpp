#include "solver/CalibrationLine.h"

#include <QStringList>

#include <array>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <utility>

namespace siderama {

namespace {

// A whole word as a finite number, by the C library's rules in the C locale:
// "nan" and "inf" give none, so they never reach the JSON answers.
std::optional<double> toNumber(const std::string& word) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    char* end = nullptr;
    const double value = strtod_l(word.c_str(), &end, cLocale);
    if (end == word.c_str() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

std::optional<CalibrationLine> CalibrationLine::parse(const QString& line) {
    static const std::array<std::pair<QString, Field>, 5> prefixes{{
        {"ra_center ", Field::raCenter},
        {"dec_center ", Field::decCenter},
        {"orientation ", Field::orientation},
        {"pixscale ", Field::pixelScale},
        {"imagew ", Field::imageWidth},
    }};
    for (const auto& [prefix, field] : prefixes) {
        if (!line.startsWith(prefix)) continue;
        const QStringList words = line.split(' ', Qt::SkipEmptyParts);
        return CalibrationLine{field, words.size() > 1 ? toNumber(words[1].toStdString()) : std::nullopt};
    }
    return std::nullopt;
}

}  // namespace siderama
