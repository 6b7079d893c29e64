#pragma once

#include "cli/ConsoleView.h"
#include "solver/SolveOptions.h"
#include "solver/SolveQueue.h"
#include "solver/SolverDelegate.h"

#include <QString>
#include <optional>

namespace siderama {

// What the terminal solving commands share: a solver whose log streams to
// standard output (standard error with `json`), its queue with the options,
// and one summary line (text or JSON object) on standard output per file
// that ends. The solve is aborted when the application quits.
class ConsoleSolving {
public:
    ConsoleSolving(bool json, const SolveOptions& options);
    ~ConsoleSolving();

    // The options' problem, said on standard error; none when they are usable.
    static std::optional<int> refuse(const SolveOptions& options);

    SolverDelegate solver;
    SolveQueue queue{solver};
    int solved = 0, reported = 0;

private:
    ConsoleView log;
};

}  // namespace siderama
