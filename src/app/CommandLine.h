#pragma once

#include <QString>
#include "solver/SolveOptions.h"

#include <QList>
#include <QStringList>
#include <utility>
#include <cstdint>
#include "remote/ServerSettings.h"

#include <optional>

namespace siderama {

// What the program was asked to do on its command line.
struct CommandLine {
    enum class Action { window, headless, solve, watch, indexCommand, keyCommand, help, version, error };

    Action action = Action::window;
    QString file;            // window: image to solve at once
    QStringList files;       // solve: the images and folders; watch: the folders
    bool json = false;       // solve, watch: summaries as JSON objects
    bool writeWcs = false;   // solve, watch: the solution into FITS headers
    bool recursive = false;  // watch: sub-folders too
    QStringList indexArguments;  // indexCommand: the option and its keys
    QString keyOption, keyName;  // keyCommand: --add-key NAME, --list-keys, --remove-key NAME
    QString error;           // error: what was wrong
    // Solve options given as flags (--scale-low 2 ...), over the stored ones.
    QList<std::pair<QString, QString>> solveFlags;
    std::optional<std::uint16_t> port;     // --port: the HTTP server's port
    std::optional<std::uint16_t> tlsPort;  // --tls-port: the HTTPS server's port
    ServiceRoles roles;                    // --database, --solves, --no-listen (with --headless)

    static CommandLine parse(const QStringList& arguments);
    // The stored solve options with the flags over them.
    SolveOptions solveOptions() const;
    static QString usage();
};

}  // namespace siderama
