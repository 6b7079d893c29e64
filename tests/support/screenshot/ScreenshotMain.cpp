// Makes the README's screenshot: the solver window after solving an image.
// Usage: siderama_screenshot IMAGE OUTPUT.png (run under Xvfb, see
// scripts/screenshot.sh).
#include "app/SolverWindow.h"
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "solver/SolverDelegate.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <QtPlugin>
#include <cstdio>

Q_IMPORT_PLUGIN(RawImagePlugin)

using namespace siderama;

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IMAGE OUTPUT.png\n", argv[0]);
        return 2;
    }
    writeSolverConfigIfMissing(FOLDER(), CONFIG());
    SolverDelegate solver;
    SolverWindow window(solver);
    solver.setView(&window);
    window.resize(900, 560);
    solver.show();
    int status = 1;
    QObject::connect(&solver, &SolverDelegate::solveFinished, [&](bool solved) {
        // Let the last lines and the scrolling settle before the picture.
        QTimer::singleShot(500, [&, solved] {
            status = window.grab().save(QString::fromLocal8Bit(argv[2])) && solved ? 0 : 1;
            QApplication::quit();
        });
    });
    solver.solvePath(QString::fromLocal8Bit(argv[1]));
    QApplication::exec();
    return status;
}
