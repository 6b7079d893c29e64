#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/SolverWindow.h"
#include "app/TerminationSignals.h"
#include "cli/IndexCommands.h"
#include "cli/KeyCommands.h"
#include "cli/SolveCommand.h"
#include "cli/WatchCommand.h"
#include "solver/SolveQueue.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <QtPlugin>
#include <cstdio>

// The raw camera frame decoder, registered with Qt's image readers before
// main() runs.
Q_IMPORT_PLUGIN(RawImagePlugin)

using namespace siderama;

namespace {

QStringList argumentList(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int runApplication(AppDelegate::Mode mode, const CommandLine& command) {
    AppDelegate app(mode);
    app.setServerPorts(command.port, command.tlsPort, command.roles);
    if (!app.applicationDidFinishLaunching()) return 1;  // the index directory cannot be created
    // A file named on the command line is the window's first queued file.
    const QString& file = command.file;
    if (!file.isEmpty()) QTimer::singleShot(0, &app, [&] { app.solverWindow()->queue().add({file}); });
    return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    qSetMessagePattern("%{time yyyy-MM-ddThh:mm:ss.zzz} siderama: %{message}");
    const CommandLine command = CommandLine::parse(argumentList(argc, argv));
    switch (command.action) {
    case CommandLine::Action::help:
        std::fputs(CommandLine::usage().toUtf8().constData(), stdout);
        return 0;
    case CommandLine::Action::version:
        std::printf("Siderama %s\n", SIDERAMA_VERSION);
        return 0;
    case CommandLine::Action::error:
        std::fprintf(stderr, "siderama: %s\n%s", qPrintable(command.error), qPrintable(CommandLine::usage()));
        return 2;
    case CommandLine::Action::window: {
        QApplication application(argc, argv);
        // Lets desktop shells match the window to the menu entry and icon.
        QGuiApplication::setDesktopFileName("siderama");
        QApplication::setWindowIcon(QIcon::fromTheme("siderama"));
        quitOnTerminationSignals();
        return runApplication(AppDelegate::Mode::window, command);
    }
    case CommandLine::Action::headless: {
        // No window, but the service's pictures need fonts: Qt's screenless platform.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication application(argc, argv);
        QCoreApplication::setApplicationName("Siderama");
        quitOnTerminationSignals();
        return runApplication(AppDelegate::Mode::headless, command);
    }
    default: break;
    }
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("Siderama");
    if (command.action == CommandLine::Action::solve || command.action == CommandLine::Action::watch)
        quitOnTerminationSignals();
    switch (command.action) {
    case CommandLine::Action::solve: return runSolveCommand(command.files, command.json, command.solveOptions());
    case CommandLine::Action::watch:
        return runWatchCommand(command.files, command.recursive, command.json, command.solveOptions());
    case CommandLine::Action::indexCommand: return runIndexCommand(command.indexArguments);
    case CommandLine::Action::keyCommand: return runKeyCommand(command.keyOption, command.keyName);
    default: return 2;
    }
}
