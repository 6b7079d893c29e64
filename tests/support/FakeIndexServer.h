#pragma once

#include <QHash>
#include <QStringList>
#include <QTcpServer>
#include <functional>

class QTcpSocket;

namespace testsupport {
// How the fake server answers one path.
struct FakeIndexFile {
    int status = 200;
    QByteArray body;
    bool announceLength = true;  // send Content-Length
    qint64 announcedLength = -1; // a Content-Length other than the body's
    qint64 cutAfter = -1;        // close the connection after this many body bytes
    int chunkSize = 16 * 1024;
    int chunkDelayMs = 0;        // pause between chunks (a slow server)
    bool ranges = false;         // answer "Range: bytes=N-" with 206
    bool ifRange = true;         // ... only when If-Range names the current validator
    QByteArray etag;             // validators sent when not empty
    QByteArray lastModified;
    QList<qint64> cutAt;         // file offsets: each cuts the one connection that passes it
    QByteArray location;         // a Location header (for redirects)
    bool endless = false;        // after the body, filler without end
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

    // Serves an index file under its series directory ("/4100/NAME").
    void serve(const QString& fileName, const FakeIndexFile& file);
    void serveFits(const QString& fileName, qint64 size);

    // Paths of the GETs and HEADs in order of arrival; the Range header of each GET ("" when none); body
    // bytes written over all answers.
    const QStringList& requests() const { return requests_; }
    const QStringList& headRequests() const { return headRequests_; }
    const QStringList& ranges() const { return ranges_; }
    qint64 bodyBytesSent() const { return bodyBytesSent_; }
    // Called with the path and the number of GETs of it so far (this one
    // included) before each GET is answered, so that a test can change files.
    void setOnRequest(std::function<void(const QString&, int)> hook) { onRequest_ = std::move(hook); }
    int mostConnections() const { return mostConnections_; }  // open at one time

private:
    void onConnection();
    void onReadable(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& request);
    void sendChunk(QTcpSocket* socket, QByteArray rest, FakeIndexFile file);
    qint64 rangeStart(const QByteArray& request, const FakeIndexFile& file) const;

    QTcpServer server_;
    QHash<QString, FakeIndexFile> files_;
    QStringList requests_, headRequests_, ranges_;
    qint64 bodyBytesSent_ = 0;
    std::function<void(const QString&, int)> onRequest_;
    int open_ = 0, mostConnections_ = 0;
};
}  // namespace testsupport
