#pragma once

#include <QString>
#include <QStringList>
#include <future>

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

// One solve of one image: conversion to FITS when needed, then image2xy,
// solve-field, new-wcs and wcsinfo through a tool runner, with progress sent
// to a reporter. Runs on the calling thread; several pipelines with runners
// and reporters of their own can run at once.
class SolvePipeline {
public:
    SolvePipeline(ToolRunner& tools, SolveReporter& reporter, bool removeFiles)
        : tools(tools), reporter(reporter), removeFiles(removeFiles) {}

    // Converts and solves. Any exception becomes a failed outcome with its
    // message. Intermediate files go to the Trash either way when
    // `removeFiles` is set.
    SolveOutcome run(const QString& path);

    // The solve-field arguments: the user's stored words, then ours, with
    // --no-fits2fits only for a solve-field that still knows it.
    static QStringList solveFieldArguments(const SolvePaths& paths, bool noFits2Fits);

private:
    SolveOutcome solve(const SolvePaths& paths, std::future<bool>& knowsNoFits2Fits);
    void runTools(const SolvePaths& paths, std::future<bool>& knowsNoFits2Fits);
    static void requireSolution(const SolvePaths& paths);
    void cleanUp(const SolvePaths& paths);

    ToolRunner& tools;
    SolveReporter& reporter;
    bool removeFiles;
};

}  // namespace siderama
