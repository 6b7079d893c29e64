#include "remote/api/SolveHints.h"

#include "remote/api/ApiArguments.h"

#include <QSet>

namespace siderama {

namespace {

QString number(double value) { return QString::number(value, 'g', 12); }

void addScale(const ApiArguments& hints, QStringList& options) {
    static const QSet<QString> units{"degwidth", "arcminwidth", "arcsecperpix", "focalmm"};
    const QString unit = QString::fromStdString(hints.text("scale_units").value_or(""));
    std::optional<double> low, high;
    const std::string type = hints.text("scale_type").value_or("ul");
    if (type == "ev") {
        const auto estimate = hints.number("scale_est");
        const double error = hints.number("scale_err").value_or(0);
        if (estimate) low = *estimate - *estimate * error / 100, high = *estimate + *estimate * error / 100;
    } else {
        low = hints.number("scale_lower");
        high = hints.number("scale_upper");
    }
    if (!units.contains(unit) || (!low && !high)) {
        options << "--scale-units" << "degwidth" << "--scale-low" << "0.1" << "--scale-high" << "180";
        return;
    }
    options << "--scale-units" << unit;
    if (low) options << "--scale-low" << number(*low);
    if (high) options << "--scale-high" << number(*high);
}

void addPosition(const ApiArguments& hints, double defaultRadius, QStringList& options) {
    const auto ra = hints.number("center_ra");
    const auto dec = hints.number("center_dec");
    if (!ra || !dec) return;
    options << "--ra" << number(*ra) << "--dec" << number(*dec) << "--radius"
            << number(hints.number("radius").value_or(defaultRadius));
}

void addSwitches(const ApiArguments& hints, QStringList& options) {
    const auto parity = hints.number("parity");
    if (parity == 0.0) options << "--parity" << "pos";
    if (parity == 1.0) options << "--parity" << "neg";
    options << "--downsample" << number(hints.number("downsample_factor").value_or(2));
    const double tweak = hints.number("tweak_order").value_or(2);
    if (tweak <= 0) options << "--no-tweak";
    else options << "--tweak-order" << number(tweak);
    if (hints.flag("crpix_center").value_or(false)) options << "--crpix-center";
    if (const auto error = hints.number("positional_error")) options << "--pixel-error" << number(*error);
    if (hints.flag("use_sextractor").value_or(false)) options << "--use-source-extractor";
    if (hints.flag("invert").value_or(false)) options << "--invert";
}

}  // namespace

QStringList solveHintOptions(const ApiArguments& hints, double defaultRadius) {
    QStringList options;
    addScale(hints, options);
    addPosition(hints, defaultRadius, options);
    addSwitches(hints, options);
    return options;
}

}  // namespace siderama
