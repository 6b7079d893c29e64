// The program's entry point. A terminal solve of FITS images runs right
// here, without the window's libraries, so it starts about as fast as the
// tools it runs; everything else (the window, the server, the index
// commands, folders and images that need converting) is the full
// application, which this process becomes.
#include "app/CommandLine.h"
#include "app/TerminationSignals.h"
#include "cli/SolveCommand.h"
#include "core/Constants.h"
#include "imaging/FitsPath.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace siderama;

namespace {

// The full application lives beside the tools; it finds them through
// SIDERAMA_TOOLS_DIR.
int becomeApplication(char** argv) {
    if (qEnvironmentVariableIsEmpty("SIDERAMA_TOOLS_DIR")) qputenv("SIDERAMA_TOOLS_DIR", toolsDirectory().toLocal8Bit());
    const QByteArray application = QString(executableDirectory() + "/../libexec/siderama/siderama-app").toLocal8Bit();
    ::execv(application.constData(), argv);
    std::perror(application.constData());
    return 127;
}

}  // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine command = CommandLine::parse(arguments);
    const bool onlyFits = std::all_of(command.files.begin(), command.files.end(), isFitsPath);
    if (command.action != CommandLine::Action::solve || !onlyFits) return becomeApplication(argv);
    qSetMessagePattern("%{time yyyy-MM-ddThh:mm:ss.zzz} siderama: %{message}");
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("Siderama");
    quitOnTerminationSignals();
    return runSolveCommand(command.files, command.json, command.solveOptions());
}

// The launcher never converts images (it hands them to the application), so
// it carries this in place of the converter: the QtGui and CFITSIO behind
// the real one are then neither linked nor loaded.
namespace siderama {
bool Convert(const QString&, const QString&) { return false; }
}  // namespace siderama
