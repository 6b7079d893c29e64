#include "cli/SolveCommand.h"

#include "cli/ConsoleView.h"
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "solver/SolveQueue.h"
#include "solver/SolveSummary.h"
#include "solver/SolverDelegate.h"

#include <QCoreApplication>
#include <cstdio>

namespace siderama {

int runSolveCommand(const QStringList& files, bool json, const SolveOptions& options) {
    if (const QString problem = options.validate(); !problem.isEmpty()) {
        std::fprintf(stderr, "siderama: %s\n", qPrintable(problem));
        return 2;
    }
    writeSolverConfigIfMissing(FOLDER(), CONFIG());
    SolverDelegate solver;
    // With JSON, standard output carries nothing but the objects.
    ConsoleView log(json ? stderr : stdout);
    solver.setView(&log);
    solver.show();
    SolveQueue queue(solver);
    queue.setOptions(options);
    int solved = 0, reported = 0;
    QObject::connect(&queue, &SolveQueue::entryChanged, [&](int row) {
        const QueueEntry& entry = queue.entries()[size_t(row)];
        if (entry.state != QueueEntry::State::solved && entry.state != QueueEntry::State::failed) return;
        ++reported;
        solved += entry.state == QueueEntry::State::solved;
        std::fputs(((json ? summaryJson(entry) : summaryLine(entry)) + '\n').toUtf8().constData(), stdout);
        std::fflush(stdout);
    });
    QObject::connect(&queue, &SolveQueue::finished, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { solver.abort(); });
    queue.add(files);
    if (queue.entries().empty()) {
        std::fputs("siderama: no image files to solve\n", stderr);
        return 1;
    }
    QCoreApplication::exec();
    solver.setView(nullptr);
    return reported == int(queue.entries().size()) && solved == reported ? 0 : 1;
}

}  // namespace siderama
