#include "remote/HeadlessServer.h"

#include <QRegularExpression>

HeadlessServer::HeadlessServer(QStringList launcher, QStringList arguments)
    : launcher(std::move(launcher)), arguments(std::move(arguments)) {}

HeadlessServer::~HeadlessServer() { stop(); }

QString sideramaExecutable() { return SIDERAMA_EXECUTABLE; }

bool HeadlessServer::start(std::chrono::seconds timeout) {
    process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    const QStringList command = launcher + QStringList{sideramaExecutable(), "--headless"} + arguments;
    process->start(command.first(), command.mid(1));
    if (!waitForLog("HTTP server started on port ", 1, timeout)) return false;
    const QRegularExpressionMatch match = QRegularExpression("HTTP server started on port (\\d+)").match(log());
    port_ = match.captured(1).toInt();
    return port_ > 0;
}

void HeadlessServer::stop() {
    if (!process || process->state() == QProcess::NotRunning) return;
    process->terminate();
    if (!process->waitForFinished(10000)) process->kill();
    process->waitForFinished(5000);
}

QString HeadlessServer::log() {
    // Without an event loop QProcess reads the pipe only while waiting.
    while (process && process->waitForReadyRead(20)) output += QString::fromUtf8(process->readAll());
    return output;
}

bool HeadlessServer::waitForLog(const QString& text, int times, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (log().count(text) < times) {
        if (std::chrono::steady_clock::now() > deadline || process->state() == QProcess::NotRunning) {
            return log().count(text) >= times;
        }
    }
    return true;
}
