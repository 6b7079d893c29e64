#include "support/FakeIndexServer.h"
#include "support/FitsCards.h"
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

namespace testsupport {
namespace {
QByteArray headerValue(const QByteArray& request, const QByteArray& name) {
    for (const QByteArray& line : request.split('\n'))
        if (line.toLower().startsWith(name.toLower() + ":")) return line.mid(name.size() + 1).trimmed();
    return {};
}

// The head for a body from `start` (206 when start > 0).
QByteArray head(const FakeIndexFile& file, qint64 start) {
    const int status = start > 0 ? 206 : file.status;
    QByteArray text = "HTTP/1.1 " + QByteArray::number(status) + (status < 300 ? " OK\r\n" : " Status\r\n");
    text += "Content-Type: application/octet-stream\r\nConnection: close\r\n";
    const qint64 length = file.announcedLength >= 0 ? file.announcedLength : file.body.size() - start;
    if (file.announceLength) text += "Content-Length: " + QByteArray::number(length) + "\r\n";
    if (start > 0)
        text += "Content-Range: bytes " + QByteArray::number(start) + "-" + QByteArray::number(file.body.size() - 1) +
                "/" + QByteArray::number(file.body.size()) + "\r\n";
    if (file.ranges) text += "Accept-Ranges: bytes\r\n";
    if (!file.etag.isEmpty()) text += "ETag: " + file.etag + "\r\n";
    if (!file.lastModified.isEmpty()) text += "Last-Modified: " + file.lastModified + "\r\n";
    if (!file.location.isEmpty()) text += "Location: " + file.location + "\r\n";
    return text + "\r\n";
}
}  // namespace

FakeIndexServer::FakeIndexServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, &FakeIndexServer::onConnection);
}

QString FakeIndexServer::baseUrl(const QString& series) const {
    return QString("http://127.0.0.1:%1/%2/").arg(port()).arg(series);
}

void FakeIndexServer::exportLocations() const {
    for (const char* series : {"4100", "4200"}) qputenv(QByteArray("SIDERAMA_INDEX_URL_") + series, baseUrl(series).toUtf8());
}

void FakeIndexServer::serve(const QString& fileName, const FakeIndexFile& file) {
    const QString series = fileName.startsWith("index-41") ? "4100" : "4200";
    files_.insert("/" + series + "/" + fileName, file);
}

void FakeIndexServer::serveFits(const QString& fileName, qint64 size) { serve(fileName, {.body = fitsBytes(size)}); }

void FakeIndexServer::onConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        mostConnections_ = qMax(mostConnections_, ++open_);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            --open_;
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
    }
}

void FakeIndexServer::onReadable(QTcpSocket* socket) {
    if (socket->property("answered").toBool()) return void(socket->readAll());
    const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n")) return;
    socket->setProperty("answered", true);
    answer(socket, request);
}

// "Range: bytes=N-" is honoured when ranges are on and If-Range, if sent,
// names the file's current validator.
qint64 FakeIndexServer::rangeStart(const QByteArray& request, const FakeIndexFile& file) const {
    static const QRegularExpression pattern("^bytes=(\\d+)-$");
    const auto match = pattern.match(QString::fromLatin1(headerValue(request, "Range")));
    if (!file.ranges || file.status != 200 || !match.hasMatch()) return 0;
    const QByteArray ifRange = headerValue(request, "If-Range");
    if (file.ifRange && !ifRange.isEmpty() && ifRange != file.etag && ifRange != file.lastModified) return 0;
    return qMin(match.captured(1).toLongLong(), qint64(file.body.size()));
}

void FakeIndexServer::answer(QTcpSocket* socket, const QByteArray& request) {
    const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
    const QString path = words.size() >= 2 ? QString::fromUtf8(words[1]) : QString();
    if (words.first() == "HEAD") {
        headRequests_ << path;
    } else {
        requests_ << path;
        ranges_ << QString::fromLatin1(headerValue(request, "Range"));
        if (onRequest_) onRequest_(path, int(requests_.count(path)));
    }
    FakeIndexFile file = files_.value(path, FakeIndexFile{.status = 404, .body = "<html>Not Found</html>"});
    const qint64 start = rangeStart(request, file);
    socket->write(head(file, start));
    if (words.first() == "HEAD") return socket->disconnectFromHost();
    qint64 end = file.cutAfter >= 0 ? file.cutAfter : file.body.size();
    for (qint64 cut : file.cutAt)
        if (cut > start && cut < end) end = cut;
    if (end < file.body.size()) files_[path].cutAt.removeOne(end);
    sendChunk(socket, file.body.mid(start, end - start), file);
}

// Sends the body a chunk at a time, pausing between chunks when asked to,
// and closes the connection after the last one (never, for an endless body).
void FakeIndexServer::sendChunk(QTcpSocket* socket, QByteArray rest, FakeIndexFile file) {
    if (socket->state() != QAbstractSocket::ConnectedState) return;
    if (rest.isEmpty() && file.endless) rest = QByteArray(file.chunkSize, 'x');
    const int size = file.chunkDelayMs > 0 || file.endless ? qMin<int>(file.chunkSize, rest.size()) : int(rest.size());
    bodyBytesSent_ += socket->write(rest.left(size));
    rest.remove(0, size);
    if (rest.isEmpty() && !file.endless) return socket->disconnectFromHost();
    QTimer::singleShot(file.chunkDelayMs, socket, [this, socket, rest, file] { sendChunk(socket, rest, file); });
}
}  // namespace testsupport
