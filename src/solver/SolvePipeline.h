#pragma once

#include "solver/SolveOptions.h"
#include "solver/SolvePortfolio.h"

#include <QString>
#include <QStringList>

namespace siderama {

class SolveReporter;
class ToolRunner;
struct SolvePaths;

// How a solve ended: solved with the completion message ("Done in N
// seconds"), or failed with what went wrong.
struct SolveOutcome {
    bool solved = false;
    QString message;
};

// One solve of one image: conversion to FITS when needed, the portfolio of
// solve-field strategies, then new-wcs and wcsinfo through a tool runner,
// with progress sent to a reporter. Runs on the calling thread; several
// pipelines with runners and reporters of their own can run at once.
class SolvePipeline {
public:
    SolvePipeline(ToolRunner& tools, SolveReporter& reporter, bool removeFiles, SolveOptions options);

    // Converts and solves. Any exception becomes a failed outcome with its
    // message. Intermediate files go to the Trash either way when
    // `removeFiles` is set.
    // The solve fails with "time limit" when it takes longer than the
    // options allow.
    SolveOutcome run(const QString& path);
    // Ends the running strategies; callable from any thread.
    void abort() { portfolio.abort(); }

private:
    SolveOutcome solve(const SolvePaths& paths);
    void runTools(const SolvePaths& paths, SolvePortfolio::Clock::time_point deadline);
    void cleanUp(const SolvePaths& paths);

    ToolRunner& tools;
    SolveReporter& reporter;
    bool removeFiles;
    SolveOptions options;
    SolvePortfolio portfolio;
};

}  // namespace siderama
