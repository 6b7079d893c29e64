#pragma once

#include "solver/SolveOptions.h"
#include "solver/SolvePortfolio.h"

#include <QString>
#include <QStringList>
#include <memory>

class QElapsedTimer;

namespace siderama {

class SolveReporter;
class ToolRunner;
struct SolvePaths;
struct SolveResult;

// How a solve ended: solved with the completion message ("Done in N
// seconds"), or failed with what went wrong; and what it leaves to show.
struct SolveOutcome {
    bool solved = false;
    QString message;
    std::shared_ptr<const SolveResult> result;
};

// One solve of one image: conversion to FITS when needed, the portfolio of
// solve-field strategies, then new-wcs and wcsinfo through a tool runner,
// with progress sent to a reporter. Runs on the calling thread; several
// pipelines with runners and reporters of their own can run at once.
class SolvePipeline {
public:
    SolvePipeline(ToolRunner& tools, SolveReporter& reporter, bool removeFiles, SolveOptions options);

    // Converts and solves. Any exception becomes a failed outcome with its
    // message. With `scratchFiles` every file of the solve goes to a private
    // folder removed at the end; with `writeWcsHeaders` a FITS input gets
    // the solution in its header. What the result view needs is read from the tools' files;
    // then the intermediate files go to the Trash when `removeFiles` is set.
    // The solve fails with "time limit" when it takes longer than the
    // options allow.
    SolveOutcome run(const QString& path);
    // Ends the running strategies; callable from any thread.
    void abort() { portfolio.abort(); }

private:
    SolveOutcome solve(const SolvePaths& paths);
    void runTools(const SolvePaths& paths, SolvePortfolio::Clock::time_point deadline);
    void writeWcsImage(const SolvePaths& paths);
    void writeHeader(const SolvePaths& paths);
    std::shared_ptr<const SolveResult> collect(const SolvePaths& paths, const SolveOutcome& outcome,
                                               const QElapsedTimer& clock);
    void cleanUp(const SolvePaths& paths);

    ToolRunner& tools;
    SolveReporter& reporter;
    bool removeFiles;
    SolveOptions options;
    SolvePortfolio portfolio;
};

}  // namespace siderama
