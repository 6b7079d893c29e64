#pragma once

#include "solver/SolveResult.h"

#include <QString>
#include <QStringList>
#include <future>
#include <optional>

class QElapsedTimer;

namespace siderama {

class SolverDelegate;
struct SolvePaths;

// One solve of one image: conversion to FITS when needed, then image2xy,
// solve-field, new-wcs and wcsinfo, reported through the solver's state and
// log. Runs on the calling (background) thread.
class SolvePipeline {
public:
    explicit SolvePipeline(SolverDelegate& solver) : solver(solver) {}

    // Converts and solves; returns the completion message ("Done in N
    // seconds") for the solver to report, or nothing when the run failed
    // (the failure is reported already). Files are cleaned up either way.
    std::optional<QString> run(const QString& path);
    // What the last run left to show: the solution, star lists and objects.
    const SolveResult& result() const { return collected; }

    // The solve-field arguments: the user's stored words, then ours, with
    // --no-fits2fits only for a solve-field that still knows it.
    static QStringList solveFieldArguments(const SolvePaths& paths, bool noFits2Fits);

private:
    bool convert(const SolvePaths& paths);
    void runTools(const SolvePaths& paths, std::future<bool>& knowsNoFits2Fits);
    void requireSolution(const SolvePaths& paths);
    void cleanUp(const SolvePaths& paths);
    std::optional<QString> finish(const QElapsedTimer& clock, const std::optional<QString>& doneMessage);

    SolverDelegate& solver;
    SolveResult collected;
};

}  // namespace siderama
