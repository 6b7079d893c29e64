#include "cli/TerminalSolve.h"

#include "cli/ConsoleView.h"
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "solver/SolverDelegate.h"

#include <QCoreApplication>
#include <cstdio>

namespace siderama {

namespace {

void printCalibration(const SolverState& state) {
    const auto number = [](const std::optional<double>& value) {
        return value ? QString::number(*value, 'g', 10) : QString("unknown");
    };
    const QString text = "RA " + number(state.raCenter) + "  Dec " + number(state.decCenter) +
                         "  orientation " + number(state.orientation) + "  pixel scale " +
                         number(state.pixelScale) + "\n";
    std::fputs(text.toUtf8().constData(), stdout);
}

}  // namespace

int TerminalSolve::run(const QString& image, const SolveOptions& options) {
    writeSolverConfigIfMissing(FOLDER(), CONFIG());
    ConsoleView console;
    SolverDelegate solver;
    solver.setView(&console);
    solver.show();  // loads the stored check boxes
    int exitCode = 1;
    QObject::connect(&solver, &SolverDelegate::solveFinished, [&](bool solved) {
        if (solved) printCalibration(solver.state());
        exitCode = solved ? 0 : 1;
        QCoreApplication::quit();
    });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { solver.abort(); });
    solver.solvePath(image, options);
    QCoreApplication::exec();
    solver.setView(nullptr);
    return exitCode;
}

}  // namespace siderama
