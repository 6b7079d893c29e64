#pragma once

#include "remote/ServerSettings.h"
#include "solver/SolverDelegate.h"

#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>

namespace siderama {

class IndexManagerDelegate;
class IndexManagerView;
class RemoteSolvingService;
class WatchedSubmissions;
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

    // Ports from the command line; none: the user defaults'.
    void setServerPorts(std::optional<std::uint16_t> port, std::optional<std::uint16_t> tlsPort,
                        ServiceRoles roles = {});
    // Writes the solver configuration, opens the index manager when no index
    // is installed, shows the solver and starts the server. False when the
    // index directory cannot be created: the program must then end.
    [[nodiscard]] bool applicationDidFinishLaunching();

    SolverDelegate& solver() { return solverDelegate; }
    // The solver window; null without windows.
    SolverWindow* solverWindow() const { return window.get(); }

    static void openProductPage();
    static void openSideramaNet();

private:
    void rememberFieldWidth(bool solved);
    Mode mode;
    SolverDelegate solverDelegate;
    std::unique_ptr<SolverView> console;
    std::unique_ptr<SolverWindow> window;
    std::unique_ptr<IndexManagerView> indexView;
    std::unique_ptr<IndexManagerDelegate> indexManager;
    std::unique_ptr<RemoteSolvingService> remote;
    std::unique_ptr<WatchedSubmissions> watchedFrames;  // headless: uses the remote API
    std::optional<std::uint16_t> serverPort;
    std::optional<std::uint16_t> secureServerPort;
    ServiceRoles serviceRoles;
};

}  // namespace siderama
