#include "cli/ConsoleSolving.h"

#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "solver/SolveSummary.h"

#include <QCoreApplication>
#include <cstdio>

namespace siderama {

std::optional<int> ConsoleSolving::refuse(const SolveOptions& options) {
    const QString problem = options.validate();
    if (problem.isEmpty()) return std::nullopt;
    std::fprintf(stderr, "siderama: %s\n", qPrintable(problem));
    return 2;
}

ConsoleSolving::ConsoleSolving(bool json, const SolveOptions& options) : log(json ? stderr : stdout) {
    writeSolverConfigIfMissing(FOLDER(), CONFIG());
    solver.setView(&log);
    solver.show();
    queue.setOptions(options);
    QObject::connect(&queue, &SolveQueue::entryChanged, [this, json](int row) {
        const QueueEntry& entry = queue.entries()[size_t(row)];
        if (entry.state != QueueEntry::State::solved && entry.state != QueueEntry::State::failed) return;
        ++reported;
        solved += entry.state == QueueEntry::State::solved;
        std::fputs(((json ? summaryJson(entry) : summaryLine(entry)) + '\n').toUtf8().constData(), stdout);
        std::fflush(stdout);
    });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &queue, [this] { solver.abort(); });
}

ConsoleSolving::~ConsoleSolving() { solver.setView(nullptr); }

}  // namespace siderama
