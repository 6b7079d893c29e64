#pragma once

#include "solver/SolveOptions.h"

#include <QString>

namespace siderama {

// `siderama --solve IMAGE`: solves one image with the solver log on standard
// output and prints the calibration. Needs a QCoreApplication; returns the
// exit status (0 only when solved).
class TerminalSolve {
public:
    static int run(const QString& image, const SolveOptions& options);
};

}  // namespace siderama
