#include "solver/SolverFixture.h"

#include "solver/ToolError.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <future>

void SolverFixture::SetUp() {
    ASSERT_TRUE(scratch.isValid());
    tools = scratch.filePath("tools");
    QDir().mkpath(tools);
    qputenv("SIDERAMA_TOOLS_DIR", tools.toLocal8Bit());
    solver.setView(&view);
}

void SolverFixture::TearDown() {
    solver.abort();
    qunsetenv("SIDERAMA_TOOLS_DIR");
}

void SolverFixture::tool(const QString& name, const QByteArray& script) {
    testsupport::writeScript(tools, name, script);
}

std::optional<siderama::ToolError::Domain> SolverFixture::run(const QString& name, const QStringList& arguments,
                                                              bool parse) {
    auto result = std::async(std::launch::async, [&]() -> std::optional<siderama::ToolError::Domain> {
        try {
            solver.execute(name, arguments, parse);
            return std::nullopt;
        } catch (const siderama::ToolError& error) {
            return error.domain;
        }
    });
    while (result.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents();
    settle();
    return result.get();
}

void SolverFixture::settle() {
    // A marker line posted last arrives after everything posted before it.
    const QString marker = "--settled--";
    solver.append(marker);
    testsupport::waitUntil([&] { return view.contains(marker); }, std::chrono::seconds(30));
    view.lines.removeIf([&](const RecordingView::Line& line) { return line.text == marker; });
}
