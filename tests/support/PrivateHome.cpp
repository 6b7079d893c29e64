#include "support/PrivateHome.h"
#include "support/TestSupport.h"
#include <QDir>
#include <QRegularExpression>

namespace testsupport {
PrivateHome::PrivateHome(const QString& name) : path_(root_.filePath(name)) { QDir().mkpath(path_ + "/tmp"); }

std::unique_ptr<QProcess> PrivateHome::start(const QStringList& arguments, const QStringList& launcher) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : {std::pair("HOME", path_), {"XDG_DATA_HOME", filePath("data")},
                                      {"XDG_CONFIG_HOME", filePath("config")}, {"XDG_CACHE_HOME", filePath("cache")},
                                      {"TMPDIR", filePath("tmp")}, {"QT_QPA_PLATFORM", "offscreen"},
                                      {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + filePath("no-bus")},
                                      {"SIDERAMA_TOOLS_DIR", tools_.isEmpty() ? realToolsDirectory() : tools_}})
        environment.insert(name, value);
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);
    const QStringList command = launcher + QStringList{sideramaExecutable()} + arguments;
    process->start(command.first(), command.mid(1));
    return process;
}

PrivateHome::Ended PrivateHome::run(const QStringList& arguments, std::chrono::seconds timeout) const {
    const auto process = start(arguments);
    QByteArray output;
    const bool ended = waitUntil([&] { return (output += process->readAll(), process->state() == QProcess::NotRunning); }, timeout);
    output += process->readAll();
    return {ended && process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1, QString::fromUtf8(output)};
}

HeadlessProgram::~HeadlessProgram() {
    process_->terminate();
    if (!process_->waitForFinished(10000)) process_->kill();
    process_->waitForFinished(5000);
}

int HeadlessProgram::waitForPort() {
    if (!waitForLog("HTTP server started on port ")) return 0;
    return QRegularExpression("HTTP server started on port (\\d+)").match(log()).captured(1).toInt();
}

QString HeadlessProgram::log() {
    while (process_->waitForReadyRead(20)) output_ += QString::fromUtf8(process_->readAll());  // reads only while waiting
    return output_;
}

bool HeadlessProgram::waitForLog(const QString& text, int times, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (log().count(text) < times && process_->state() != QProcess::NotRunning && std::chrono::steady_clock::now() < deadline) {
    }
    return log().count(text) >= times;
}
}  // namespace testsupport
