#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace testsupport {

QString tempHome() { return qEnvironmentVariable("HOME"); }

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

QString writeScript(const QString& directory, const QString& name, const QByteArray& body) {
    QDir().mkpath(directory);
    const QString path = directory + "/" + name;
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QString realToolsDirectory() { return QStringLiteral(SIDERAMA_BINARY_DIR "/libexec/siderama"); }

int linkTycho2Indexes(const QString& folder) {
    QDir().mkpath(folder);
    int linked = 0;
    for (int n = 10; n <= 19; ++n) {
        const QString source = QString("/usr/share/astrometry/index-tycho2-%1.littleendian.fits").arg(n);
        const QString target = QString("%1/index-41%2.fits").arg(folder).arg(n);
        if (QFile::exists(target) || QFile::link(source, target)) ++linked;
    }
    return linked;
}

}  // namespace testsupport
