#pragma once

#include "solver/SolverDelegate.h"

#include <QObject>
#include <memory>

namespace siderama {

class IndexManagerDelegate;
class IndexManagerView;
class RemoteSolvingService;
class SolverView;
class SolverWindow;

// The application object: runs the start-up sequence and owns the
// controllers and their views, with windows or on the terminal.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    enum class Mode {
        window,    // the desktop application
        headless,  // no window, the log on standard output, serving until interrupted
    };

    explicit AppDelegate(Mode mode, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The HTTP server's port from the command line; 0 leaves it to the user
    // default `http-port`, else to the system. Call before launching.
    void setHttpPort(int port) { httpPort = port; }
    void applicationDidFinishLaunching();

    SolverDelegate& solver() { return solverDelegate; }
    // The solver window; null without windows.
    SolverWindow* solverWindow() const { return window.get(); }

    static void openProductPage();
    static void openSideramaNet();

private:
    void rememberFieldWidth(bool solved);
    Mode mode;
    int httpPort = 0;
    SolverDelegate solverDelegate;
    std::unique_ptr<SolverView> console;
    std::unique_ptr<SolverWindow> window;
    std::unique_ptr<IndexManagerView> indexView;
    std::unique_ptr<IndexManagerDelegate> indexManager;
    std::unique_ptr<RemoteSolvingService> remote;
};

}  // namespace siderama
