#include "support/SolverProbe.h"
#include "support/TestSupport.h"

namespace testsupport {
void settleLog(siderama::SolverDelegate& solver, RecordingView& view) {
    solver.append("--settled--");  // arrives after everything posted before it
    waitUntil([&] { return view.texts().contains("--settled--"); }, std::chrono::seconds(30));
    view.lines.removeIf([&](const RecordingView::Line& line) { return line.text == "--settled--"; });
}

bool solveAndWait(siderama::SolverDelegate& solver, const QString& path, std::chrono::seconds timeout) {
    bool finished = false, result = false;
    const auto connection = QObject::connect(&solver, &siderama::SolverDelegate::solveFinished, [&](bool solved) {
        finished = true;
        result = solved;
    });
    const bool ended = solver.solvePath(path) && waitUntil([&] { return finished; }, timeout);
    QObject::disconnect(connection);
    return ended && result;
}
}  // namespace testsupport
