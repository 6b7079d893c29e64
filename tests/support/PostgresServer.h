#pragma once
#include <QTemporaryDir>

namespace testsupport {
// A private PostgreSQL 15 server on a Unix socket in a folder under /tmp (no TCP), run as the postgres user
// when the suite runs as root. url(): postgresql://postgres@/postgres?host=FOLDER.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer() { stop(); }
    bool ok() const { return started; }
    bool start();
    bool stop();
    QString url() const { return "postgresql://postgres@/postgres?host=" + folder.path(); }

private:
    bool run(QStringList command);
    QTemporaryDir folder{"/tmp/siderama-postgres-XXXXXX"};  // outside private TMPDIRs: the server's user enters it
    bool started = false;
};
}  // namespace testsupport
