#include "support/PostgresServer.h"

#include <QFile>
#include <QProcess>

#include <pwd.h>
#include <unistd.h>

namespace testsupport {

namespace {

const QString bin = "/usr/lib/postgresql/15/bin/";

}  // namespace

PostgresServer::PostgresServer() {
    QFile::setPermissions(folder.path(), QFileDevice::Permissions(0x7777));
    if (const passwd* user = ::getuid() == 0 ? ::getpwnam("postgres") : nullptr)
        if (::chown(folder.path().toLocal8Bit().constData(), user->pw_uid, user->pw_gid) != 0) return;
    if (run({bin + "initdb", "-D", folder.filePath("data"), "-A", "trust", "-U", "postgres", "--no-sync"})) start();
}

PostgresServer::~PostgresServer() { stop(); }

bool PostgresServer::start() {
    started = run({bin + "pg_ctl", "-D", folder.filePath("data"), "-l", folder.filePath("log"), "-w", "-o",
                   "-p 5432 -k " + folder.path() + " -c listen_addresses= -c fsync=off", "start"});
    return started;
}

bool PostgresServer::stop() {
    started = false;
    return run({bin + "pg_ctl", "-D", folder.filePath("data"), "-m", "fast", "-w", "stop"});
}

QString PostgresServer::url() const { return "postgresql://postgres@/postgres?host=" + folder.path(); }

bool PostgresServer::run(QStringList command) {
    if (::getuid() == 0) command = QStringList{"runuser", "-u", "postgres", "--"} + command;
    const QString program = command.takeFirst();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, command);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

}  // namespace testsupport
