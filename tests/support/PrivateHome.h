#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <memory>

namespace testsupport {

// A fresh home directory (HOME, XDG_*) in which the built program runs, with
// nothing to announce to and the offscreen platform.
class PrivateHome {
public:
    explicit PrivateHome(const QString& name = "home");

    QString path() const { return path_; }
    QString filePath(const QString& relative) const { return path_ + "/" + relative; }
    QString indexFolder() const { return filePath("data/Siderama"); }
    // Tools directory of the program; the real tools when never set.
    void setTools(const QString& directory) { tools_ = directory; }

    QProcessEnvironment environment() const;
    // Starts the program, standard output and error merged; `launcher`
    // words come first (a namespace helper).
    std::unique_ptr<QProcess> start(const QStringList& arguments, const QStringList& launcher = {}) const;

    struct Ended {
        int exitCode;  // -1 when ended by a signal
        QString output;
    };
    Ended run(const QStringList& arguments, std::chrono::seconds timeout = std::chrono::seconds(300)) const;

private:
    QTemporaryDir root_;
    QString path_;
    QString tools_;
};

// `siderama --headless` in a private home; its log is its standard output.
class HeadlessProgram {
public:
    explicit HeadlessProgram(const PrivateHome& home, const QStringList& launcher = {});
    ~HeadlessProgram();

    // Waits for "HTTP server started on port P"; 0 when it does not come.
    int waitForPort();
    // Waits until `text` was logged `times` times.
    bool waitForLog(const QString& text, int times = 1, std::chrono::seconds timeout = std::chrono::seconds(30));
    QString log();
    QProcess& process() { return *process_; }

private:
    std::unique_ptr<QProcess> process_;
    QString output_;
};

}  // namespace testsupport
