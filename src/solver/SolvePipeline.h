#pragma once

#include "solver/SolveOptions.h"
#include "solver/SolvePortfolio.h"

#include <QString>
#include <optional>

namespace siderama {

class SolverDelegate;
struct SolvePaths;

// One solve of one image: conversion to FITS when needed, the portfolio of
// solve-field strategies, then new-wcs and wcsinfo, reported through the
// solver's state and log. Runs on the calling (background) thread.
class SolvePipeline {
public:
    SolvePipeline(SolverDelegate& solver, SolveOptions options);

    // Converts and solves; returns the completion message ("Done in N
    // seconds") for the solver to report, or nothing when the run failed
    // (the failure is reported already). Files are cleaned up either way.
    std::optional<QString> run(const QString& path);
    // Ends the running tools; any thread.
    void abort() { portfolio.abort(); }

private:
    bool convert(const SolvePaths& paths);
    void runTools(const SolvePaths& paths, SolvePortfolio::Clock::time_point deadline);
    void cleanUp(const SolvePaths& paths);

    SolverDelegate& solver;
    SolveOptions options;
    SolvePortfolio portfolio;
};

}  // namespace siderama
