#pragma once

#include <QString>
#include <QStringList>

namespace siderama {

// What a solve pipeline needs to run its tools. Each concurrent pipeline
// has its own runner, so one can be aborted without touching the others.
class ToolRunner {
public:
    virtual ~ToolRunner() = default;

    // Runs `tool` with `arguments` and blocks until it has ended; with
    // `parse` its calibration lines are taken as the solve's calibration.
    // Throws ToolError when the tool did not succeed.
    virtual void execute(const QString& tool, const QStringList& arguments, bool parse) = 0;
};

}  // namespace siderama
