#include "support/PostgresServer.h"
#include <QProcess>
#include <pwd.h>
#include <unistd.h>

namespace testsupport {
const QString bin = "/usr/lib/postgresql/15/bin/";

PostgresServer::PostgresServer() {
    const passwd* user = ::getuid() == 0 ? ::getpwnam("postgres") : nullptr;
    if ((!user || ::chown(folder.path().toLocal8Bit().constData(), user->pw_uid, user->pw_gid) == 0) &&
        run({bin + "initdb", "-D", folder.filePath("data"), "-A", "trust", "-U", "postgres", "--no-sync"}))
        start();
}

bool PostgresServer::start() {
    return started = run({bin + "pg_ctl", "-D", folder.filePath("data"), "-l", folder.filePath("log"), "-w", "-o",
                          "-p 5432 -k " + folder.path() + " -c listen_addresses= -c fsync=off", "start"});
}

bool PostgresServer::stop() {
    started = false;
    return run({bin + "pg_ctl", "-D", folder.filePath("data"), "-m", "fast", "-w", "stop"});
}

bool PostgresServer::run(QStringList command) {
    if (::getuid() == 0) command = QStringList{"runuser", "-u", "postgres", "--"} + command;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString program = command.takeFirst();
    process.start(program, command);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
}  // namespace testsupport
