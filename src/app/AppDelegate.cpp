#include "app/AppDelegate.h"

#include "app/IndexManagerWindow.h"
#include "app/SolverWindow.h"
#include "cli/ConsoleView.h"
#include "cli/IndexConsoleView.h"
#include "core/Defaults.h"
#include "core/SolverConfig.h"
#include "indexes/IndexManagerDelegate.h"
#include "remote/RemoteSolvingService.h"
#include "remote/api/WatchedSubmissions.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

namespace siderama {

namespace {

const char* const productPage = "https://github.com/siderama/siderama";
const char* const sideramaNet = "https://astrometry.net/";

}  // namespace

AppDelegate::AppDelegate(Mode mode, QObject* parent) : QObject(parent), mode(mode) {
    if (mode == Mode::window) {
        window = std::make_unique<SolverWindow>(solverDelegate);
        solverDelegate.setView(window.get());
        connect(window.get(), &SolverWindow::productPageRequested, this, &AppDelegate::openProductPage);
        connect(window.get(), &SolverWindow::sideramaNetRequested, this, &AppDelegate::openSideramaNet);
        indexView = std::make_unique<IndexManagerWindow>();
        connect(window.get(), &SolverWindow::indexManagerRequested, this, [this] {
            if (!indexManager->show()) QCoreApplication::exit(1);
        });
    } else {
        console = std::make_unique<ConsoleView>();
        solverDelegate.setView(console.get());
        if (mode == Mode::headless) indexView = std::make_unique<IndexConsoleView>();
    }
    if (indexView) indexManager = std::make_unique<IndexManagerDelegate>(*indexView);
    connect(&solverDelegate, &SolverDelegate::solveFinished, this, [this](bool solved) { rememberFieldWidth(solved); });
}

// The index manager can tick the index files for the field last solved.
void AppDelegate::rememberFieldWidth(bool solved) {
    const auto degrees = solverDelegate.state().fieldWidth();
    if (solved && degrees) Defaults::setString(IndexManagerDelegate::lastFieldWidthKey, QString::number(*degrees));
}

AppDelegate::~AppDelegate() {
    solverDelegate.setView(nullptr);
    indexManager.reset();
}

// The raw frame decoder is registered before this runs: main() imports it
// as a static plugin.
bool AppDelegate::applicationDidFinishLaunching() {
    QString reason;
    if (!writeSolverConfigIfMissing(FOLDER(), CONFIG(), &reason))
        solverDelegate.append("Cannot write the solver configuration " + CONFIG() + ": " + reason, RED);
    if (indexManager && !indexManager->showIfNoIndexFound()) return false;
    solverDelegate.show();
    remote = std::make_unique<RemoteSolvingService>(solverDelegate);
    remote->startServer(serverPort, secureServerPort, serviceRoles);
    if (mode == Mode::headless && remote->solvingApi()) {
        watchedFrames = std::make_unique<WatchedSubmissions>(*remote->solvingApi(), [this](const QString& text, bool problem) {
            solverDelegate.append(text, problem ? RED : YELLOW);
        });
        watchedFrames->startFromDefaults();
    }
    return true;
}

void AppDelegate::setServerPorts(std::optional<std::uint16_t> port, std::optional<std::uint16_t> tlsPort,
                                 ServiceRoles roles) {
    serviceRoles = std::move(roles);
    serverPort = port;
    secureServerPort = tlsPort;
}

void AppDelegate::openProductPage() { QDesktopServices::openUrl(QUrl(productPage)); }

void AppDelegate::openSideramaNet() { QDesktopServices::openUrl(QUrl(sideramaNet)); }

}  // namespace siderama
