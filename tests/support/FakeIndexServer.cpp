#include "support/FakeIndexServer.h"

#include <QTcpSocket>
#include <QTimer>

namespace testsupport {

FakeIndexServer::FakeIndexServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            mostConnections_ = qMax(mostConnections_, ++open_);
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                --open_;
                socket->deleteLater();
            });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
                socket->setProperty("request", request);
                if (request.contains("\r\n\r\n") && !socket->property("answered").toBool()) answer(socket, request);
            });
        }
    });
}

void FakeIndexServer::exportLocations() const {
    for (const char* series : {"4100", "4200"}) qputenv(QByteArray("SIDERAMA_INDEX_URL_") + series,
                QString("http://127.0.0.1:%1/%2/").arg(server_.serverPort()).arg(series).toUtf8());
}

void FakeIndexServer::serve(const QString& fileName, const FakeIndexFile& file) {
    files_.insert((fileName.startsWith("index-41") ? "/4100/" : "/4200/") + fileName, file);
}

void FakeIndexServer::answer(QTcpSocket* socket, const QByteArray& request) {
    socket->setProperty("answered", true);
    requests_ << QString::fromUtf8(request.split(' ').value(1));
    const FakeIndexFile file = files_.value(requests_.last(), {.status = 404, .body = "<html>Not Found</html>"});
    QByteArray head = "HTTP/1.1 " + QByteArray::number(file.status) + " Status\r\nConnection: close\r\n";
    if (file.announceLength) head += "Content-Length: " + QByteArray::number(file.body.size()) + "\r\n";
    socket->write(head + "\r\n");
    sendChunk(socket, file.cutAfter >= 0 ? file.body.left(file.cutAfter) : file.body, file);
}

// The body a chunk at a time, pausing between chunks when asked to; closes after the last.
void FakeIndexServer::sendChunk(QTcpSocket* socket, QByteArray rest, const FakeIndexFile& file) {
    if (socket->state() != QAbstractSocket::ConnectedState) return;
    const qsizetype size = file.chunkDelayMs > 0 ? file.chunkSize : rest.size();
    socket->write(rest.left(size));
    rest.remove(0, size);
    if (rest.isEmpty()) return socket->disconnectFromHost();
    QTimer::singleShot(file.chunkDelayMs, socket, [=, this] { sendChunk(socket, rest, file); });
}

}  // namespace testsupport
