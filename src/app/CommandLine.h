#pragma once

#include <QString>
#include <QStringList>

namespace siderama {

// What the program was asked to do on its command line.
struct CommandLine {
    enum class Action { window, headless, solve, indexCommand, help, version, error };

    Action action = Action::window;
    QString file;            // window: image to solve at once
    QStringList files;       // solve: the images and folders
    bool json = false;       // solve: summaries as JSON objects
    QStringList indexArguments;  // indexCommand: the option and its keys
    QString error;           // error: what was wrong
    int port = 0;            // --port N: the HTTP server's port (0: none given)

    static CommandLine parse(const QStringList& arguments);
    static QString usage();
};

}  // namespace siderama
