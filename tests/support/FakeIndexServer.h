#pragma once

#include <QHash>
#include <QStringList>
#include <QTcpServer>

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

// An index-file server on 127.0.0.1, run by the thread's event loop. Paths
// are "/4100/NAME" and "/4200/NAME"; others get 404. One request per connection.
class FakeIndexServer : public QObject {
public:
    FakeIndexServer();

    // Points SIDERAMA_INDEX_URL_4100 and SIDERAMA_INDEX_URL_4200 here.
    void exportLocations() const;
    void serve(const QString& fileName, const FakeIndexFile& file);
    void serveFits(const QString& fileName, qint64 size) { serve(fileName, {.body = fitsBody(size)}); }

    const QStringList& requests() const { return requests_; }  // in order of arrival
    int mostConnections() const { return mostConnections_; }   // open at one time

    // A body that starts as a FITS file does, `size` bytes long.
    static QByteArray fitsBody(qint64 size) {
        return QByteArray("SIMPLE  =                    T").leftJustified(80, ' ').leftJustified(size, 'f').left(size);
    }

private:
    void answer(QTcpSocket* socket, const QByteArray& request);
    void sendChunk(QTcpSocket* socket, QByteArray rest, const FakeIndexFile& file);

    QTcpServer server_;
    QHash<QString, FakeIndexFile> files_;
    QStringList requests_;
    int open_ = 0;
    int mostConnections_ = 0;
};

}  // namespace testsupport
