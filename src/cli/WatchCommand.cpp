#include "cli/WatchCommand.h"

#include "cli/ConsoleView.h"
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "solver/SolveQueue.h"
#include "solver/SolveSummary.h"
#include "solver/SolverDelegate.h"
#include "solver/WatchedFolders.h"

#include <QCoreApplication>
#include <cstdio>

namespace siderama {

int runWatchCommand(const QStringList& folders, bool recursive, bool json, const SolveOptions& options) {
    if (const QString problem = options.validate(); !problem.isEmpty()) {
        std::fprintf(stderr, "siderama: %s\n", qPrintable(problem));
        return 2;
    }
    writeSolverConfigIfMissing(FOLDER(), CONFIG());
    SolverDelegate solver;
    ConsoleView log(json ? stderr : stdout);
    solver.setView(&log);
    solver.show();
    SolveQueue queue(solver);
    queue.setOptions(options);
    QObject::connect(&queue, &SolveQueue::entryChanged, [&](int row) {
        const QueueEntry& entry = queue.entries()[size_t(row)];
        if (entry.state != QueueEntry::State::solved && entry.state != QueueEntry::State::failed) return;
        std::fputs(((json ? summaryJson(entry) : summaryLine(entry)) + '\n').toUtf8().constData(), stdout);
        std::fflush(stdout);
    });
    WatchedFolders watched(solver, queue);
    for (const QString& folder : folders) {
        if (const QString problem = watched.add(folder, recursive); !problem.isEmpty()) {
            std::fprintf(stderr, "siderama: %s\n", qPrintable(problem));
            solver.setView(nullptr);
            return 2;
        }
    }
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { solver.abort(); });
    QCoreApplication::exec();
    solver.setView(nullptr);
    return 0;
}

}  // namespace siderama
