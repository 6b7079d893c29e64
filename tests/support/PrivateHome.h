#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <memory>

namespace testsupport {
// A fresh home directory (HOME, XDG_*, TMPDIR) in which the built program runs on the offscreen platform,
// with nothing to announce to.
class PrivateHome {
public:
    explicit PrivateHome(const QString& name = "home");

    QString filePath(const QString& relative) const { return path_ + "/" + relative; }
    QString indexFolder() const { return filePath("data/Siderama"); }
    void setTools(const QString& directory) { tools_ = directory; }  // the real tools when never set

    // Starts the program, standard output and error merged, after the `launcher` words (a namespace helper).
    std::unique_ptr<QProcess> start(const QStringList& arguments, const QStringList& launcher = {}) const;
    struct Ended {
        int exitCode;  // -1 when it did not end normally
        QString output;
    };
    // Runs the program to its end, with the event loop running.
    Ended run(const QStringList& arguments, std::chrono::seconds timeout = std::chrono::seconds(300)) const;

private:
    QTemporaryDir root_;
    QString path_;
    QString tools_;
};

// `siderama --headless` in a private home; its log is its standard output.
class HeadlessProgram {
public:
    // `arguments` follow --headless.
    explicit HeadlessProgram(const PrivateHome& home, const QStringList& launcher = {}, const QStringList& arguments = {})
        : process_(home.start(QStringList{"--headless"} + arguments, launcher)) {}
    ~HeadlessProgram();

    int waitForPort();  // from "HTTP server started on port P"; 0 when it does not come
    bool waitForLog(const QString& text, int times = 1, std::chrono::seconds timeout = std::chrono::seconds(30));
    QString log();

private:
    std::unique_ptr<QProcess> process_;
    QString output_;
};
}  // namespace testsupport
