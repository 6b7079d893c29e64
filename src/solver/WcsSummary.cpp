#include "solver/WcsSummary.h"

#include "core/Constants.h"
#include "solver/ToolCommand.h"

#include <QHash>
#include <cmath>

namespace siderama {

std::optional<WcsSummary> WcsSummary::read(const QString& wcsFile) {
    const std::optional<QString> text = ToolCommand::output("wcsinfo", {wcsFile}, std::chrono::seconds(30));
    return text ? parse(*text) : std::nullopt;
}

std::optional<WcsSummary> WcsSummary::parse(const QString& output) {
    QHash<QString, double> values;
    for (const QString& line : output.split('\n')) {
        const QStringList words = line.split(' ', Qt::SkipEmptyParts);
        bool ok = false;
        const double value = words.size() == 2 ? words[1].toDouble(&ok) : 0;
        if (ok && std::isfinite(value)) values.insert(words[0], value);
    }
    if (!values.contains("ra_center") || !values.contains("dec_center")) return std::nullopt;
    const double scale = values.value("pixscale");
    if (scale < 0 || std::abs(values["dec_center"]) > 90) return std::nullopt;
    return WcsSummary{values["ra_center"], values["dec_center"], scale, values.value("imagew") * scale / 3600,
                      values.value("imageh") * scale / 3600, output};
}

}  // namespace siderama
