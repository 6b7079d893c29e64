#pragma once

#include "solver/SolveOptions.h"

#include <QStringList>

namespace siderama {

// `siderama --watch [--recursive] [--json] FOLDER...`: solves every frame
// that lands in the folders, once completely written, until interrupted.
// The log streams as with --solve, one summary line (text or JSON) per frame
// goes to standard output, and each folder keeps its results files. Returns
// the exit status: 0 after an interruption, 2 when a folder or the options
// cannot be used.
int runWatchCommand(const QStringList& folders, bool recursive, bool json, const SolveOptions& options);

}  // namespace siderama
