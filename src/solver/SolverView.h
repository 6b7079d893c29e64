#pragma once

#include "core/Constants.h"

#include <QString>
#include <memory>

namespace siderama {

struct SolveResult;

// What the solver controller needs of its window. Implemented by the Qt
// solver window, the terminal view and a recording view in tests. Every call
// arrives on the main thread, in the order the controller made them.
class SolverView {
public:
    virtual ~SolverView() = default;

    // Adds one line (without its line feed) to the end of the log.
    virtual void appendLog(const QString& line, LogColor color) = 0;
    // Called after a run of appendLog calls, e.g. to scroll to the end once.
    virtual void logUpdated() {}
    virtual void setControls(bool solveEnabled, bool abortEnabled) = 0;
    virtual void setCheckBoxes(bool removeFiles, bool writeWCSHeaders) = 0;
    // The number of API jobs waiting or solving.
    virtual void setQueueLength(int) {}
    // Shows what a finished solve found (also after a failure), just before
    // solveFinished is emitted.
    virtual void showResult(const std::shared_ptr<const SolveResult>&) {}
    // Brings the window to the front.
    virtual void present() = 0;
};

}  // namespace siderama
