#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>

// A `siderama --headless` child process (through an optional launcher such
// as a namespace helper) whose log is collected from its standard output.
class HeadlessServer {
public:
    // `launcher` arguments come before the siderama command line,
    // `arguments` after its --headless.
    explicit HeadlessServer(QStringList launcher = {}, QStringList arguments = {});
    ~HeadlessServer();

    // Starts the program and waits for its "HTTP server started" line;
    // false when it does not come.
    bool start(std::chrono::seconds timeout = std::chrono::seconds(30));
    // Sends SIGTERM and waits for the end.
    void stop();

    int port() const { return port_; }
    // Everything logged so far.
    QString log();
    // Waits until `text` appears in the log `times` times.
    bool waitForLog(const QString& text, int times = 1, std::chrono::seconds timeout = std::chrono::seconds(30));

private:
    QStringList launcher;
    QStringList arguments;
    std::unique_ptr<QProcess> process;
    QString output;
    int port_ = 0;
};

// Path of the siderama program under test.
QString sideramaExecutable();
