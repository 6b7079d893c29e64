#include "support/FakeIndexServer.h"

#include <QTcpSocket>
#include <QTimer>

namespace testsupport {

namespace {

QByteArray reasonOf(int status) {
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

QByteArray head(const FakeIndexFile& file) {
    QByteArray text = "HTTP/1.1 " + QByteArray::number(file.status) + " " + reasonOf(file.status) + "\r\n";
    text += "Content-Type: application/octet-stream\r\nConnection: close\r\n";
    if (file.announceLength) text += "Content-Length: " + QByteArray::number(file.body.size()) + "\r\n";
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
    qputenv("SIDERAMA_INDEX_URL_4100", baseUrl("4100").toUtf8());
    qputenv("SIDERAMA_INDEX_URL_4200", baseUrl("4200").toUtf8());
}

void FakeIndexServer::serve(const QString& fileName, const FakeIndexFile& file) {
    const QString series = fileName.startsWith("index-41") ? "4100" : "4200";
    files_.insert("/" + series + "/" + fileName, file);
}

void FakeIndexServer::serveFits(const QString& fileName, qint64 size) {
    serve(fileName, FakeIndexFile{.body = fitsBody(size)});
}

QByteArray FakeIndexServer::fitsBody(qint64 size, char fill) {
    QByteArray body = QByteArray("SIMPLE  =                    T").leftJustified(80, ' ');
    body = body.leftJustified(size, fill);
    return body.left(size);
}

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
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n")) return;
    socket->setProperty("answered", true);
    const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
    answer(socket, words.size() >= 2 ? QString::fromUtf8(words[1]) : QString());
}

void FakeIndexServer::answer(QTcpSocket* socket, const QString& path) {
    requests_ << path;
    FakeIndexFile file = files_.value(path, FakeIndexFile{.status = 404, .body = "<html>Not Found</html>"});
    socket->write(head(file));
    QByteArray body = file.cutAfter >= 0 ? file.body.left(file.cutAfter) : file.body;
    sendChunk(socket, body, file);
}

// Sends the body a chunk at a time, pausing between chunks when asked to,
// and closes the connection after the last one.
void FakeIndexServer::sendChunk(QTcpSocket* socket, QByteArray rest, FakeIndexFile file) {
    if (socket->state() != QAbstractSocket::ConnectedState) return;
    const int size = file.chunkDelayMs > 0 ? file.chunkSize : int(rest.size());
    socket->write(rest.left(size));
    rest.remove(0, size);
    if (rest.isEmpty()) {
        socket->disconnectFromHost();
        return;
    }
    QTimer::singleShot(file.chunkDelayMs, socket, [this, socket, rest, file] { sendChunk(socket, rest, file); });
}

}  // namespace testsupport
