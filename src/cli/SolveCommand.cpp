#include "cli/SolveCommand.h"

#include "cli/ConsoleSolving.h"

#include <QCoreApplication>
#include <cstdio>

namespace siderama {

int runSolveCommand(const QStringList& files, bool json, const SolveOptions& options) {
    if (const auto refused = ConsoleSolving::refuse(options)) return *refused;
    // With JSON, standard output carries nothing but the objects.
    ConsoleSolving console(json, options);
    QObject::connect(&console.queue, &SolveQueue::finished, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    console.queue.add(files);
    if (console.queue.entries().empty()) {
        std::fputs("siderama: no image files to solve\n", stderr);
        return 1;
    }
    QCoreApplication::exec();
    const int all = int(console.queue.entries().size());
    return console.reported == all && console.solved == all ? 0 : 1;
}

}  // namespace siderama
