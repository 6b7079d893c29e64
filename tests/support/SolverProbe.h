#pragma once

#include "solver/SolverDelegate.h"
#include "solver/SolverView.h"
#include <QStringList>

namespace testsupport {
// A solver view that remembers everything the controller told it.
struct RecordingView : siderama::SolverView {
    struct Line {
        QString text;
        siderama::LogColor color;
    };
    void appendLog(const QString& text, siderama::LogColor color) override { lines.append({text, color}); }
    void logUpdated() override { ++batches; }
    void setControls(bool solve, bool abort) override { controls = {solve, abort}; }
    void setCheckBoxes(bool remove, bool write) override { checkBoxes = {remove, write}; }
    void present() override { ++presented; }

    QStringList texts() const {
        QStringList all;
        for (const Line& line : lines) all << line.text;
        return all;
    }
    int count(const QString& text, siderama::LogColor color) const {
        return int(std::count_if(lines.begin(), lines.end(), [&](const Line& l) { return l.text == text && l.color == color; }));
    }

    QList<Line> lines;
    int batches = 0, presented = 0;
    std::pair<bool, bool> controls{true, false}, checkBoxes{false, false};
};

// Waits until the log lines posted so far have reached `view` (the log settles).
void settleLog(siderama::SolverDelegate& solver, RecordingView& view);
// Solves `path` and waits until the solve ends; its result.
bool solveAndWait(siderama::SolverDelegate& solver, const QString& path, std::chrono::seconds timeout = std::chrono::seconds(60));
}  // namespace testsupport
