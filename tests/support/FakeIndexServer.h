#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

namespace testsupport {

// How the fake server answers one path.
struct FakeIndexFile {
    int status = 200;
    QByteArray body;
    bool announceLength = true;  // send Content-Length
    qint64 cutAfter = -1;        // close the connection after this many body bytes
    int chunkSize = 16 * 1024;
    int chunkDelayMs = 0;        // pause between chunks (a slow server)
};

// An index-file server on 127.0.0.1 for the tests, run by the thread's event
// loop. Paths are "/4100/NAME" and "/4200/NAME"; unknown paths get 404. Each
// connection serves one request and is then closed.
class FakeIndexServer : public QObject {
public:
    FakeIndexServer();

    quint16 port() const { return server_.serverPort(); }
    QString baseUrl(const QString& series) const;
    // Points SIDERAMA_INDEX_URL_4100 and SIDERAMA_INDEX_URL_4200 here.
    void exportLocations() const;

    // Serves an index file under its series directory.
    void serve(const QString& fileName, const FakeIndexFile& file);
    void serveFits(const QString& fileName, qint64 size);

    // Paths requested, in order of arrival.
    const QStringList& requests() const { return requests_; }
    // Most connections that were open at one time.
    int mostConnections() const { return mostConnections_; }
    int openConnections() const { return open_; }

    // A body that starts as a FITS file does, `size` bytes long.
    static QByteArray fitsBody(qint64 size, char fill = 'f');

private:
    void onConnection();
    void onReadable(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QString& path);
    void sendChunk(QTcpSocket* socket, QByteArray rest, FakeIndexFile file);

    QTcpServer server_;
    QHash<QString, FakeIndexFile> files_;
    QStringList requests_;
    int open_ = 0;
    int mostConnections_ = 0;
};

}  // namespace testsupport
