#include "support/PrivateHome.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QRegularExpression>

namespace testsupport {

PrivateHome::PrivateHome(const QString& name) : path_(root_.filePath(name)) { QDir().mkpath(path_ + "/tmp"); }

QProcessEnvironment PrivateHome::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", path_);
    environment.insert("XDG_DATA_HOME", filePath("data"));
    environment.insert("XDG_CONFIG_HOME", filePath("config"));
    environment.insert("XDG_CACHE_HOME", filePath("cache"));
    environment.insert("TMPDIR", filePath("tmp"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + filePath("no-bus"));
    environment.insert("SIDERAMA_TOOLS_DIR", tools_.isEmpty() ? realToolsDirectory() : tools_);
    return environment;
}

std::unique_ptr<QProcess> PrivateHome::start(const QStringList& arguments, const QStringList& launcher) const {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->setProcessChannelMode(QProcess::MergedChannels);
    const QStringList command = launcher + QStringList{sideramaExecutable()} + arguments;
    process->start(command.first(), command.mid(1));
    return process;
}

PrivateHome::Ended PrivateHome::run(const QStringList& arguments, std::chrono::seconds timeout) const {
    const auto process = start(arguments);
    process->waitForFinished(int(std::chrono::milliseconds(timeout).count()));
    const bool normal = process->exitStatus() == QProcess::NormalExit && process->state() == QProcess::NotRunning;
    return {normal ? process->exitCode() : -1, QString::fromUtf8(process->readAll())};
}

HeadlessProgram::HeadlessProgram(const PrivateHome& home, const QStringList& launcher)
    : process_(home.start({"--headless"}, launcher)) {}

HeadlessProgram::~HeadlessProgram() {
    if (process_->state() == QProcess::NotRunning) return;
    process_->terminate();
    if (!process_->waitForFinished(10000)) process_->kill();
    process_->waitForFinished(5000);
}

int HeadlessProgram::waitForPort() {
    if (!waitForLog("HTTP server started on port ")) return 0;
    return QRegularExpression("HTTP server started on port (\\d+)").match(log()).captured(1).toInt();
}

QString HeadlessProgram::log() {
    // Without an event loop QProcess reads the pipe only while waiting.
    while (process_->waitForReadyRead(20)) output_ += QString::fromUtf8(process_->readAll());
    return output_;
}

bool HeadlessProgram::waitForLog(const QString& text, int times, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (log().count(text) < times) {
        if (std::chrono::steady_clock::now() > deadline || process_->state() == QProcess::NotRunning)
            return log().count(text) >= times;
    }
    return true;
}

}  // namespace testsupport
