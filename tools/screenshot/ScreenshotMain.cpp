// Makes the README's screenshot: the solver window with the result view
// after solving an image.
// Usage: siderama_screenshot IMAGE OUTPUT.png (run under Xvfb, see
// scripts/screenshot.sh).
#include "app/ResultView.h"
#include "app/SolverWindow.h"
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "solver/SolverDelegate.h"
#include "ui_SolverWindow.h"

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
    window.resize(1200, 780);
    solver.show();
    int status = 1;
    // The picture is taken once the image is decoded and the last log lines
    // and the scrolling have settled.
    QObject::connect(window.ui().resultView, &ResultView::imageLoaded, [&] {
        QTimer::singleShot(500, [&] {
            status = window.grab().save(QString::fromLocal8Bit(argv[2])) && solver.state().status == SolverStatus::done ? 0 : 1;
            QApplication::quit();
        });
    });
    solver.solvePath(QString::fromLocal8Bit(argv[1]));
    QApplication::exec();
    return status;
}
