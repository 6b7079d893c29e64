#pragma once

#include "solver/SolveOptions.h"

#include <QStringList>

namespace siderama {

// `siderama --solve [--json] FILE...`: solves the files (and the images in
// folders) one after another without a window. The log streams to standard
// output, or to standard error with `json`; after each file one summary line
// (text or a JSON object) goes to standard output. Returns the exit status:
// 0 only when every file was solved, 2 when the options make no sense.
int runSolveCommand(const QStringList& files, bool json, const SolveOptions& options);

}  // namespace siderama
