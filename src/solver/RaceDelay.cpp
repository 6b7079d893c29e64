#include "solver/RaceDelay.h"

#include <QSettings>
#include <QStringList>
#include <algorithm>
#include <vector>

namespace siderama {

namespace {

constexpr auto key = "race/first-strategy-seconds";
constexpr qsizetype remembered = 16;

QSettings settings() { return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Siderama", "Siderama"); }

}  // namespace

std::chrono::milliseconds RaceDelay::current() {
    std::vector<double> seconds;
    for (const QString& value : settings().value(key).toStringList())
        if (bool ok = false; value.toDouble(&ok) >= 0 && ok) seconds.push_back(value.toDouble());
    double delay = unlearned;
    if (seconds.size() >= 3) {
        std::sort(seconds.begin(), seconds.end());
        delay = std::clamp(1.5 * seconds[seconds.size() * 3 / 4], 0.5, 4.0);
    }
    return std::chrono::milliseconds(qint64(delay * 1000));
}

void RaceDelay::learn(double seconds) {
    QSettings store = settings();
    QStringList values = store.value(key).toStringList();
    values << QString::number(seconds, 'f', 3);
    store.setValue(key, values.mid(std::max<qsizetype>(0, values.size() - remembered)));
}

}  // namespace siderama
