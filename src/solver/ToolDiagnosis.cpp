#include "solver/ToolDiagnosis.h"

#include <QRegularExpression>

namespace siderama {

QString ToolDiagnosis::explain(const QString& failure, const QStringList& output) {
    static const QRegularExpression damaged(R"re(^Failed to add index "(.+)"\.?$)re");
    QStringList causes;
    for (const QString& line : output) {
        if (const auto match = damaged.match(line.trimmed()); match.hasMatch())
            causes << "the index file " + match.captured(1) + " is damaged";
        else if (line.contains("You must list at least one index"))
            causes << "no usable index file (add some in the index manager)";
    }
    causes.removeDuplicates();
    return causes.isEmpty() ? failure : failure + ": " + causes.join("; ");
}

}  // namespace siderama
