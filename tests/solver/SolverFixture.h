#pragma once

#include "solver/SolverDelegate.h"
#include "solver/ToolError.h"
#include "solver/RecordingView.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// A solver with a recording view whose tools are the stand-in scripts the
// test writes into its own tools directory.
class SolverFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a stand-in tool (a shell script body).
    void tool(const QString& name, const QByteArray& script);
    // Runs execute() on a background thread as the pipeline does and waits
    // for it; returns the error it threw, if any.
    std::optional<siderama::ToolError::Domain> run(const QString& name, const QStringList& arguments,
                                                   bool parse = false);
    // Processes events until the view has received everything posted so far.
    void settle();

    QTemporaryDir scratch;
    QString tools;
    siderama::SolverDelegate solver;
    RecordingView view;
};
