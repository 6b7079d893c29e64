#pragma once

#include <QString>
#include <QStringList>
#include <future>
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

// One solve of one image: conversion to FITS when needed, then image2xy,
// solve-field, new-wcs and wcsinfo through a tool runner, with progress sent
// to a reporter. Runs on the calling thread; several pipelines with runners
// and reporters of their own can run at once.
class SolvePipeline {
public:
    SolvePipeline(ToolRunner& tools, SolveReporter& reporter, bool removeFiles)
        : tools(tools), reporter(reporter), removeFiles(removeFiles) {}

    // Converts and solves. Any exception becomes a failed outcome with its
    // message. What the result view needs is read from the tools' files;
    // then the intermediate files go to the Trash when `removeFiles` is set.
    SolveOutcome run(const QString& path);

    // The solve-field arguments: the user's stored words, then ours, with
    // --no-fits2fits only for a solve-field that still knows it.
    static QStringList solveFieldArguments(const SolvePaths& paths, bool noFits2Fits);

private:
    SolveOutcome solve(const SolvePaths& paths, std::future<bool>& knowsNoFits2Fits);
    void runTools(const SolvePaths& paths, std::future<bool>& knowsNoFits2Fits);
    static void requireSolution(const SolvePaths& paths);
    std::shared_ptr<const SolveResult> collect(const SolvePaths& paths, const SolveOutcome& outcome,
                                               const QElapsedTimer& clock);
    void cleanUp(const SolvePaths& paths);

    ToolRunner& tools;
    SolveReporter& reporter;
    bool removeFiles;
};

}  // namespace siderama
