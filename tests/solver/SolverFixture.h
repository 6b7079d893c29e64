#pragma once

#include "solver/SolverDelegate.h"
#include "solver/ToolError.h"
#include "support/SolverProbe.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <future>

// A solver with a recording view whose tools are the stand-in scripts the
// test writes into its own tools directory.
class SolverFixture : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("SIDERAMA_TOOLS_DIR", tools.toLocal8Bit());
        solver.setView(&view);
    }
    void TearDown() override {
        solver.abort();
        qunsetenv("SIDERAMA_TOOLS_DIR");
    }

    void tool(const QString& name, const QByteArray& script) { testsupport::writeScript(tools, name, script); }
    void settle() { testsupport::settleLog(solver, view); }

    // Runs execute() on another thread, as the pipeline does, and waits for
    // it with the event loop running; the error it threw, if any.
    std::optional<siderama::ToolError::Domain> run(const QString& name, const QStringList& arguments, bool parse = false) {
        auto result = std::async(std::launch::async, [&]() -> std::optional<siderama::ToolError::Domain> {
            try {
                solver.execute(name, arguments, parse);
                return std::nullopt;
            } catch (const siderama::ToolError& error) {
                return error.domain;
            }
        });
        while (result.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) QCoreApplication::processEvents();
        settle();
        return result.get();
    }

    QTemporaryDir scratch;
    QString tools = scratch.filePath("tools");
    siderama::SolverDelegate solver;
    testsupport::RecordingView view;
};
