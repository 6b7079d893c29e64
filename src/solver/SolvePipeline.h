#pragma once

#include <QString>
#include <QStringList>

namespace siderama {

class SolverDelegate;
struct SolvePaths;

// One solve of one image: conversion to FITS when needed, then image2xy,
// solve-field, new-wcs and wcsinfo, reported through the solver's state and
// log. Runs on the calling (background) thread.
class SolvePipeline {
public:
    explicit SolvePipeline(SolverDelegate& solver) : solver(solver) {}

    // Returns true when the image was solved.
    bool run(const QString& path);

    // The solve-field arguments: the user's stored words, then ours.
    static QStringList solveFieldArguments(const SolvePaths& paths);

private:
    bool convert(const SolvePaths& paths);
    void runTools(const SolvePaths& paths);
    void requireSolution(const SolvePaths& paths);
    void cleanUp(const SolvePaths& paths);

    SolverDelegate& solver;
};

}  // namespace siderama
