#pragma once

#include <QString>
#include <QStringList>

namespace siderama {

// Says what went wrong when a tool failed, from what it wrote: solve-field's
// engine ends with "status 255" whether no index file was usable or one was
// damaged, which tells a user nothing.
class ToolDiagnosis {
public:
    // `failure` ("solve-field terminated (status 255)") with the cause found
    // in `output` before it, or `failure` alone when none is known.
    static QString explain(const QString& failure, const QStringList& output);
};

}  // namespace siderama
