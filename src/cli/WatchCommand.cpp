#include "cli/WatchCommand.h"

#include "cli/ConsoleSolving.h"
#include "solver/WatchedFolders.h"

#include <QCoreApplication>
#include <cstdio>

namespace siderama {

int runWatchCommand(const QStringList& folders, bool recursive, bool json, const SolveOptions& options) {
    if (const auto refused = ConsoleSolving::refuse(options)) return *refused;
    ConsoleSolving console(json, options);
    WatchedFolders watched(console.solver, console.queue);
    for (const QString& folder : folders) {
        if (const QString problem = watched.add(folder, recursive); !problem.isEmpty()) {
            std::fprintf(stderr, "siderama: %s\n", qPrintable(problem));
            return 2;
        }
    }
    QCoreApplication::exec();
    return 0;
}

}  // namespace siderama
