#include "remote/api/SolveHints.h"

#include "remote/api/ApiArguments.h"

#include <QSet>
#include <cmath>
#include <numbers>

namespace siderama {

namespace {

QString number(double value) { return QString::number(value, 'g', 12); }

// Degrees across a 36 mm wide frame behind a lens of `focal` mm.
std::optional<double> focalWidth(const std::optional<double>& focal) {
    if (!focal || *focal <= 0) return std::nullopt;
    return 2 * std::atan(18 / *focal) * 180 / std::numbers::pi;
}

void setScale(const ApiArguments& hints, SolveOptions& options) {
    static const QSet<QString> units{"degwidth", "arcminwidth", "arcsecperpix", "focalmm"};
    const QString unit = QString::fromStdString(hints.text("scale_units").value_or(""));
    if (!units.contains(unit)) return;
    std::optional<double> low, high;
    if (hints.text("scale_type").value_or("ul") == "ev") {
        const auto estimate = hints.number("scale_est");
        const double error = hints.number("scale_err").value_or(0);
        if (estimate) low = *estimate - *estimate * error / 100, high = *estimate + *estimate * error / 100;
    } else {
        low = hints.number("scale_lower");
        high = hints.number("scale_upper");
    }
    options.scaleUnits = unit;
    if (unit == "focalmm") {  // the longer lens sees the narrower field
        options.scaleUnits = "degwidth";
        std::tie(low, high) = std::pair{focalWidth(high), focalWidth(low)};
    }
    options.scaleLow = low;
    options.scaleHigh = high;
}

QStringList switchWords(const ApiArguments& hints) {
    QStringList words;
    const auto parity = hints.number("parity");
    if (parity == 0.0) words << "--parity" << "pos";
    if (parity == 1.0) words << "--parity" << "neg";
    if (const auto tweak = hints.number("tweak_order")) {
        if (*tweak <= 0) words << "--no-tweak";
        else words << "--tweak-order" << number(*tweak);
    }
    if (hints.flag("crpix_center").value_or(false)) words << "--crpix-center";
    if (const auto error = hints.number("positional_error")) words << "--pixel-error" << number(*error);
    if (hints.flag("use_sextractor").value_or(false)) words << "--use-source-extractor";
    if (hints.flag("invert").value_or(false)) words << "--invert";
    return words;
}

}  // namespace

SolveOptions solveHintOptions(const ApiArguments& hints, double defaultRadius) {
    SolveOptions options;
    setScale(hints, options);
    options.ra = hints.number("center_ra");
    options.dec = hints.number("center_dec");
    if (!options.hasPosition()) options.ra = options.dec = std::nullopt;
    else options.radius = hints.number("radius").value_or(defaultRadius);
    options.downsample = std::max(0, int(hints.number("downsample_factor").value_or(0)));
    options.extraWords = switchWords(hints);
    return options;
}

QStringList solveFieldHintWords(const SolveOptions& options) {
    QStringList words{"--scale-units", "degwidth", "--scale-low", "0.1", "--scale-high", "180"};
    if (options.scaleLow || options.scaleHigh) {
        words = QStringList{"--scale-units", options.scaleUnits};
        if (options.scaleLow) words << "--scale-low" << number(*options.scaleLow);
        if (options.scaleHigh) words << "--scale-high" << number(*options.scaleHigh);
    }
    if (options.hasPosition())
        words << "--ra" << number(*options.ra) << "--dec" << number(*options.dec) << "--radius"
              << number(*options.radius);
    if (options.downsample > 0) words << "--downsample" << QString::number(options.downsample);
    return words + options.extraWords;
}

}  // namespace siderama
