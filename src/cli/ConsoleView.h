#pragma once

#include "solver/SolverView.h"

#include <cstdio>

namespace siderama {

// The solver log on a terminal: one line per log line, flushed after every
// batch, coloured with ANSI sequences only when the stream is a terminal.
class ConsoleView : public SolverView {
public:
    explicit ConsoleView(std::FILE* stream = stdout);

    void appendLog(const QString& line, LogColor color) override;
    void logUpdated() override;
    void setControls(bool, bool) override {}
    void setCheckBoxes(bool, bool) override {}
    void present() override {}

private:
    std::FILE* stream;
    bool colours;
};

}  // namespace siderama
