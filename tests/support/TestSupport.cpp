#include "support/TestSupport.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace testsupport {
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

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

const QByteArray orionCalibration =
    "echo 'ra_center 83.8'\necho 'dec_center -5.4'\necho 'orientation 150'\necho 'pixscale 36.01'\n";

void writeStandInTools(const QString& directory, const QByteArray& image2xyFirst, const QByteArray& wcsinfo,
                       const QString& calls) {
    const QByteArray record = calls.isEmpty() ? "" : "echo \"$(basename $0) $*\" >> '" + calls.toUtf8() + "'\n";
    writeScript(directory, "image2xy", record + image2xyFirst + "touch \"$3\"\n");
    writeScript(directory, "solve-field", "[ \"$1\" = --help ] && { echo '  --overwrite'; exit 0; }\n" + record +
                    "eval b=\\${$#}; b=${b%.xy}; d=; o=\n"
                    "while [ $# -gt 0 ]; do case $1 in --dir) d=$2;; --out) o=$2;; esac; shift; done\n"
                    "[ -n \"$d\" ] && b=\"$d/$o\"\n"
                    "for e in .wcs .axy .corr .match .rdls .solved -indx.xyls; do touch \"$b$e\"; done\n");
    writeScript(directory, "new-wcs", record + "touch \"$6\"\n");
    writeScript(directory, "wcsinfo", record + wcsinfo);
}

QString realToolsDirectory() { return QStringLiteral(SIDERAMA_BINARY_DIR "/libexec/siderama"); }
QString sideramaExecutable() { return QStringLiteral(SIDERAMA_BINARY_DIR "/bin/siderama"); }

bool linkTycho2Indexes(const QString& folder) {
    QDir().mkpath(folder);
    int linked = 0;
    for (int n = 10; n <= 19; ++n) {
        const QString source = QString("/usr/share/astrometry/index-tycho2-%1.littleendian.fits").arg(n);
        const QString target = QString("%1/index-41%2.fits").arg(folder).arg(n);
        if (QFile::exists(source) && (QFile::exists(target) || QFile::link(source, target))) ++linked;
    }
    return linked == 10;
}
}  // namespace testsupport
