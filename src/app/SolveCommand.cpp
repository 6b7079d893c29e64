#include "app/SolveCommand.h"

#include "app/AppDelegate.h"
#include "app/ConsoleView.h"
#include "app/TerminationSignals.h"
#include "solver/SolveQueue.h"
#include "solver/SolveSummary.h"

#include <QCoreApplication>
#include <cstdio>

namespace siderama {

int runSolveCommand(const QStringList& files, bool json) {
    AppDelegate app(AppDelegate::Mode::solve);
    // With JSON, standard output carries nothing but the objects.
    ConsoleView errorLog(stderr);
    if (json) app.solver().setView(&errorLog);
    app.applicationDidFinishLaunching();
    SolveQueue queue(app.solver());
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
    quitOnTerminationSignals();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { app.solver().abort(); });
    queue.add(files);
    if (queue.entries().empty()) {
        std::fputs("siderama: no image files to solve\n", stderr);
        return 1;
    }
    QCoreApplication::exec();
    app.solver().setView(nullptr);
    return reported == int(queue.entries().size()) && solved == reported ? 0 : 1;
}

}  // namespace siderama
