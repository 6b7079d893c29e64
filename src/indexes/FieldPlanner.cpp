#include "indexes/FieldPlanner.h"

#include "indexes/IndexCatalogue.h"

#include <QRegularExpression>

namespace siderama::FieldPlanner {

namespace {

bool suits(const SkymarkRange& range, double arcminutes) {
    return range.largest > smallestShare * arcminutes && range.smallest < arcminutes;
}

// The scale number: the last two digits of the index number in the key.
int scaleOf(const QString& key) { return key.mid(8, 2).toInt(); }

}  // namespace

QStringList keysFor(double degrees) {
    const double arcminutes = degrees * 60;
    QList<int> tychoScales;
    QStringList keys;
    for (const QString& key : FILES().keys(IndexSeries::s4100))
        if (suits(FILES().entry(key)->skymarks, arcminutes)) {
            keys << key;
            tychoScales << scaleOf(key);
        }
    for (const QString& key : FILES().keys(IndexSeries::s4200))
        if (suits(FILES().entry(key)->skymarks, arcminutes) && !tychoScales.contains(scaleOf(key))) keys << key;
    return keys;
}

std::optional<double> parseWidth(const QString& text) {
    static const QRegularExpression pattern(R"(^\s*(\d+(?:\.\d*)?|\.\d+)\s*(°|deg|d|'|′|arcmin|am)?\s*$)",
                                            QRegularExpression::CaseInsensitiveOption);
    const auto match = pattern.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const QString unit = match.captured(2).toLower();
    const bool minutes = unit == "'" || unit == "′" || unit == "arcmin" || unit == "am";
    const double degrees = match.captured(1).toDouble() / (minutes ? 60 : 1);
    if (degrees < 1.0 / 60 || degrees > 360) return std::nullopt;
    return degrees;
}

QString describeWidth(double degrees) {
    if (degrees < 1) return QString::number(degrees * 60, 'g', 3) + "′";
    return QString::number(degrees, 'g', 3) + "°";
}

}  // namespace siderama::FieldPlanner
