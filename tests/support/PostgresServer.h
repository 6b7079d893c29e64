#pragma once

#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A private PostgreSQL 15 server on a Unix socket in a temporary folder (no
// TCP), run as the postgres user when the suite runs as root.
class PostgresServer {
public:
    PostgresServer();  // initialised and started; see ok()
    ~PostgresServer();
    bool ok() const { return started; }
    bool start();
    bool stop();
    // postgresql://postgres@/postgres?host=FOLDER
    QString url() const;

private:
    bool run(QStringList command);

    QTemporaryDir folder{"/tmp/siderama-postgres-XXXXXX"};  // outside private TMPDIRs: the server's user enters it
    bool started = false;
};

}  // namespace testsupport
