#include "remote/api/SolveHints.h"

#include "remote/api/ApiArguments.h"
#include "remote/api/JobTools.h"

#include <QSet>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace siderama {

namespace {

QString number(double value) { return QString::number(value, 'g', 12); }

// Reads numeric hints, clamping each into the range the tools handle.
class Numbers {
public:
    Numbers(const ApiArguments& hints, QStringList* notes) : hints(hints), notes(notes) {}

    std::optional<double> operator()(const char* key, double low, double high) const {
        const std::optional<double> value = hints.number(key);
        if (!value) return std::nullopt;
        if (!std::isfinite(*value)) throw JobFailure(QString("The hint %1 is not a finite number").arg(key));
        const double kept = std::clamp(*value, low, high);
        if (kept != *value && notes)
            *notes << QString("The hint %1 = %2 is outside %3 to %4: %5 is used").arg(key, number(*value), number(low),
                                                                                    number(high), number(kept));
        return kept;
    }

private:
    const ApiArguments& hints;
    QStringList* notes;
};

constexpr double largest = 1e6;  // of a scale in any unit

// Degrees across a 36 mm wide frame behind a lens of `focal` mm.
std::optional<double> focalWidth(const std::optional<double>& focal) {
    if (!focal || *focal <= 0) return std::nullopt;
    return 2 * std::atan(18 / *focal) * 180 / std::numbers::pi;
}

void setScale(const ApiArguments& hints, const Numbers& numbers, SolveOptions& options) {
    static const QSet<QString> units{"degwidth", "arcminwidth", "arcsecperpix", "focalmm"};
    const QString unit = QString::fromStdString(hints.text("scale_units").value_or(""));
    if (!units.contains(unit)) return;
    std::optional<double> low, high;
    if (hints.text("scale_type").value_or("ul") == "ev") {
        const auto estimate = numbers("scale_est", 0, largest);
        const double error = numbers("scale_err", 0, 100).value_or(0);
        if (estimate) low = *estimate - *estimate * error / 100, high = *estimate + *estimate * error / 100;
    } else {
        low = numbers("scale_lower", 0, largest);
        high = numbers("scale_upper", 0, largest);
    }
    if (low && high && *low > *high)
        throw JobFailure("The scale range is upside down: scale_lower " + number(*low) + " > scale_upper " + number(*high));
    options.scaleUnits = unit;
    if (unit == "focalmm") {  // the longer lens sees the narrower field
        options.scaleUnits = "degwidth";
        std::tie(low, high) = std::pair{focalWidth(high), focalWidth(low)};
    }
    options.scaleLow = low;
    options.scaleHigh = high;
}

QStringList switchWords(const ApiArguments& hints, const Numbers& numbers) {
    QStringList words;
    const auto parity = hints.number("parity");
    if (parity == 0.0) words << "--parity" << "pos";
    if (parity == 1.0) words << "--parity" << "neg";
    if (const auto tweak = numbers("tweak_order", 0, 7)) {
        if (*tweak <= 0) words << "--no-tweak";
        else words << "--tweak-order" << QString::number(std::lround(*tweak));
    }
    if (hints.flag("crpix_center").value_or(false)) words << "--crpix-center";
    if (const auto error = numbers("positional_error", 0.01, 100)) words << "--pixel-error" << number(*error);
    if (hints.flag("use_sextractor").value_or(false)) words << "--use-source-extractor";
    if (hints.flag("invert").value_or(false)) words << "--invert";
    return words;
}

}  // namespace

SolveOptions solveHintOptions(const ApiArguments& hints, double defaultRadius, QStringList* notes) {
    const Numbers numbers(hints, notes);
    SolveOptions options;
    setScale(hints, numbers, options);
    options.ra = numbers("center_ra", 0, 360);
    options.dec = numbers("center_dec", -90, 90);
    if (!options.hasPosition()) options.ra = options.dec = std::nullopt;
    else options.radius = numbers("radius", 0.01, 180).value_or(defaultRadius);
    options.downsample = int(numbers("downsample_factor", 0, 16).value_or(0));
    options.extraWords = switchWords(hints, numbers);
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
