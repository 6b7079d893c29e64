#include "solver/SolveOptions.h"

#include <QSettings>

namespace siderama {

namespace {

const QStringList units{"arcsecperpix", "arcminwidth", "degwidth"};

QSettings userDefaults() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Siderama", "Siderama");
}

std::optional<double> optionalNumber(const QSettings& settings, const QString& key) {
    bool ok = false;
    const double value = settings.value(key).toDouble(&ok);
    if (!ok) return std::nullopt;
    return value;
}

void setOptional(QSettings& settings, const QString& key, const std::optional<double>& value) {
    if (value) settings.setValue(key, *value);
    else settings.remove(key);
}

}  // namespace

const QStringList SolveOptions::names{"scale-units", "scale-low", "scale-high", "ra",    "dec",
                                      "radius",      "downsample", "time-limit", "racing"};

QString SolveOptions::set(const QString& name, const QString& value) {
    if (name == "scale-units") {
        scaleUnits = value;
        return units.contains(value) ? QString() : "scale units must be one of " + units.join(", ");
    }
    if (name == "racing") {
        racing = value == "on";
        return value == "on" || value == "off" ? QString() : "racing must be on or off";
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok) return "--" + name + " needs a number";
    std::optional<double>* fields[] = {&scaleLow, &scaleHigh, &ra, &dec, &radius};
    const qsizetype index = QStringList{"scale-low", "scale-high", "ra", "dec", "radius"}.indexOf(name);
    if (index >= 0) *fields[index] = number;
    else if (name == "downsample") downsample = int(number);
    else if (name == "time-limit") timeLimit = int(number);
    else return "unknown solve option " + name;
    return {};
}

std::optional<std::pair<double, double>> SolveOptions::arcsecPerPixel(int width) const {
    if (!hasScale() || width <= 0) return std::nullopt;
    if (scaleUnits == "arcsecperpix") return std::pair{*scaleLow, *scaleHigh};
    const double perUnit = scaleUnits == "degwidth" ? 3600.0 : 60.0;
    return std::pair{*scaleLow * perUnit / width, *scaleHigh * perUnit / width};
}

QString SolveOptions::validate() const {
    if (!units.contains(scaleUnits)) return "scale units must be one of " + units.join(", ");
    if (scaleLow.has_value() != scaleHigh.has_value()) return "give both ends of the scale range";
    if (hasScale() && (*scaleLow <= 0 || *scaleHigh < *scaleLow))
        return "the scale range needs 0 < low <= high";
    if (ra.has_value() != dec.has_value()) return "give both RA and Dec";
    if (ra && (*ra < 0 || *ra >= 360 || *dec < -90 || *dec > 90)) return "RA must be in [0, 360), Dec in [-90, 90]";
    if (radius && *radius <= 0) return "the radius must be positive";
    if (downsample < 0 || downsample > 16) return "downsample must be between 0 (automatic) and 16";
    if (timeLimit < 1) return "the time limit must be at least one second";
    return {};
}

SolveOptions SolveOptions::load() {
    const QSettings settings = userDefaults();
    SolveOptions options;
    options.scaleUnits = settings.value("solve/scale-units", options.scaleUnits).toString();
    options.scaleLow = optionalNumber(settings, "solve/scale-low");
    options.scaleHigh = optionalNumber(settings, "solve/scale-high");
    options.ra = optionalNumber(settings, "solve/ra");
    options.dec = optionalNumber(settings, "solve/dec");
    options.radius = optionalNumber(settings, "solve/radius");
    options.downsample = settings.value("solve/downsample", 0).toInt();
    options.timeLimit = settings.value("solve/time-limit", options.timeLimit).toInt();
    options.racing = settings.value("solve/racing", true).toBool();
    if (!options.validate().isEmpty()) return {};
    return options;
}

void SolveOptions::save() const {
    QSettings settings = userDefaults();
    settings.setValue("solve/scale-units", scaleUnits);
    setOptional(settings, "solve/scale-low", scaleLow);
    setOptional(settings, "solve/scale-high", scaleHigh);
    setOptional(settings, "solve/ra", ra);
    setOptional(settings, "solve/dec", dec);
    setOptional(settings, "solve/radius", radius);
    settings.setValue("solve/downsample", downsample);
    settings.setValue("solve/time-limit", timeLimit);
    settings.setValue("solve/racing", racing);
}

}  // namespace siderama
