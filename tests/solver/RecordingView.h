#pragma once

#include "solver/SolverView.h"

#include <QList>
#include <QString>
#include <utility>

// A solver view that remembers everything the controller told it.
class RecordingView : public siderama::SolverView {
public:
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
    bool contains(const QString& text) const { return texts().contains(text); }

    QList<Line> lines;
    int batches = 0;
    std::pair<bool, bool> controls{true, false};
    std::pair<bool, bool> checkBoxes{false, false};
    int presented = 0;
};
