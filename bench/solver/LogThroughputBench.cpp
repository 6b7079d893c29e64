// How fast tool output reaches the solver log: a stand-in tool prints
// 200,000 lines through the tool runner into the headless log (standard
// output sent to /dev/null), next to `cat` of the same output.
#include "cli/ConsoleView.h"
#include "solver/SolverDelegate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <thread>

using namespace siderama;

namespace {

constexpr int lineCount = 200000;

// The headless log, counting what it has shown.
struct LineCountingView : ConsoleView {
    using ConsoleView::ConsoleView;
    void appendLog(const QString& line, LogColor color) override {
        ConsoleView::appendLog(line, color);
        ++lines;
    }
    int lines = 0;
};

QString writeOutput(const QTemporaryDir& dir) {
    const QString path = dir.filePath("output.txt");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    for (int i = 0; i < lineCount; ++i)
        file.write(QString("field %1: star at x=%2 y=%3 flux=%4\n").arg(i).arg(i % 4000).arg(i % 3000).arg(i * 7).toUtf8());
    return path;
}

double secondsOfCat(const QString& output) {
    QElapsedTimer clock;
    clock.start();
    QProcess cat;
    cat.setStandardOutputFile("/dev/null");
    cat.start("cat", {output});
    cat.waitForFinished(-1);
    return clock.nsecsElapsed() / 1e9;
}

double secondsThroughTheRunner(const QString& output, const QTemporaryDir& dir) {
    QFile tool(dir.filePath("verbose-tool"));
    tool.open(QIODevice::WriteOnly);
    tool.write("#!/bin/sh\nexec cat " + output.toUtf8() + "\n");
    tool.close();
    tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("SIDERAMA_TOOLS_DIR", dir.path().toLocal8Bit());

    std::FILE* devNull = std::fopen("/dev/null", "w");
    LineCountingView view(devNull);
    SolverDelegate solver;
    solver.setView(&view);
    QElapsedTimer clock;
    clock.start();
    std::thread runner([&] { solver.execute("verbose-tool", {}, false); });
    // Done once the display line, every output line and "done" were logged.
    while (view.lines < lineCount + 2) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double seconds = clock.nsecsElapsed() / 1e9;
    runner.join();
    std::fclose(devNull);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    const QString output = writeOutput(dir);
    const double cat = secondsOfCat(output);
    const double runner = secondsThroughTheRunner(output, dir);
    std::printf("lines                      %d\n", lineCount);
    std::printf("cat to /dev/null           %.0f lines/s (%.3f s)\n", lineCount / cat, cat);
    std::printf("tool runner into the log   %.0f lines/s (%.3f s)\n", lineCount / runner, runner);
    std::printf("runner / cat time          %.1f\n", runner / cat);
    std::printf("target                     >= 100000 lines/s: %s\n", lineCount / runner >= 100000 ? "met" : "MISSED");
    return 0;
}
