#pragma once

// A private home for a solver benchmark: the Tycho-2 index files linked into
// its index folder, and an environment that points Siderama and the tools
// at it (and at the distribution's Python, which solve-field needs to read
// images; a per-user interpreter chosen by HOME lacks its module).
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

inline QProcessEnvironment benchEnvironment(const QTemporaryDir& home) {
    const QString folder = home.filePath("data/Siderama");
    QDir().mkpath(folder);
    for (int n = 10; n <= 19; ++n)
        QFile::link(QString("/usr/share/astrometry/index-tycho2-%1.littleendian.fits").arg(n),
                    QString("%1/index-41%2.fits").arg(folder).arg(n));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("PATH", "/usr/bin:/bin");
    environment.remove("SIDERAMA_TOOLS_DIR");
    return environment;
}

// Runs a program to its end in `environment` and returns its merged output;
// `ok` tells whether it exited with status 0.
inline QString runProgram(const QProcessEnvironment& environment, const QString& program, const QStringList& arguments,
                          bool* ok = nullptr) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(-1);
    if (ok) *ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return QString::fromUtf8(process.readAll());
}
