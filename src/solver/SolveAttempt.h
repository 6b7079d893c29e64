#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace siderama {

// One way of asking the tools for a solution: the tools to run in order, the
// files that tell whether it solved, and the wall-clock seconds it may take.
struct SolveAttempt {
    struct Step {
        QString tool;  // name in the tools directory
        QStringList arguments;
        // Identical shared steps of a race run once (an extraction that
        // several strategies read).
        bool shared = false;
    };

    QString name;  // shown in the log: "pipeline", "fast xy", ...
    std::vector<Step> steps;
    QString wcs;     // the solution solve-field writes
    QString solved;  // solve-field's marker of success
    QString source;  // what solve-field reads: an xy list or the image
    double budget = 0;    // seconds; 0: until the solve's time limit
    bool logged = false;  // stream the tools' output into the solve log
    // Searches every scale of `source`: when it ends without a solution, no
    // attempt reading the same source can find one.
    bool exhaustive = false;
};

}  // namespace siderama
