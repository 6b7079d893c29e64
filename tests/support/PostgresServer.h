#pragma once
#include <QProcess>
#include <QTemporaryDir>
#include <pwd.h>
#include <unistd.h>

namespace testsupport {
// A private PostgreSQL 15 server on a Unix socket in a folder under /tmp (no TCP), run as the postgres user
// when the suite runs as root.
class PostgresServer {
public:
    PostgresServer() {
        const passwd* user = ::getuid() == 0 ? ::getpwnam("postgres") : nullptr;
        if ((!user || ::chown(folder.path().toLocal8Bit().constData(), user->pw_uid, user->pw_gid) == 0) &&
            run({"initdb", "-D", folder.filePath("data"), "-A", "trust", "-U", "postgres", "--no-sync"}))
            start();
    }
    ~PostgresServer() { stop(); }
    bool ok() const { return started; }
    bool start() {
        return started = run({"pg_ctl", "-D", folder.filePath("data"), "-l", folder.filePath("log"), "-w", "-o",
                              "-p 5432 -k " + folder.path() + " -c listen_addresses= -c fsync=off", "start"});
    }
    bool stop() { return !(started = false) && run({"pg_ctl", "-D", folder.filePath("data"), "-m", "fast", "-w", "stop"}); }
    QString url() const { return "postgresql://postgres@/postgres?host=" + folder.path(); }

private:
    bool run(QStringList command) {
        const QString program = "/usr/lib/postgresql/15/bin/" + command.takeFirst();
        if (::getuid() == 0) command = QStringList{"-u", "postgres", "--", program} + command;
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(::getuid() == 0 ? "runuser" : program, command);
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    QTemporaryDir folder{"/tmp/siderama-postgres-XXXXXX"};  // outside private TMPDIRs: the server's user enters it
    bool started = false;
};
}  // namespace testsupport
