#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryFile;

namespace siderama {

// One index-file transfer. The body goes to a hidden temporary file beside
// the save location and is renamed over it only when the transfer is
// complete: status 200, as many bytes as announced, and a FITS header at the
// start. Any failure or a cancel removes the temporary file. Runs on the
// thread that created it; all signals come from its event loop.
class IndexDownload : public QObject {
    Q_OBJECT
public:
    static constexpr int timeoutMs = 60000;

    IndexDownload(QNetworkAccessManager& network, QUrl source, QString destination, QObject* parent = nullptr);
    ~IndexDownload() override;

    // Starts the transfer; false when the temporary file cannot be created.
    bool start();
    // Stops the transfer; no signal follows and no file is left.
    void cancel();

    qint64 receivedLength() const { return received_; }

signals:
    void began();
    // The server's answer was accepted; -1 when it announced no length.
    void responded(qint64 expectedLength);
    void received(qint64 receivedLength);
    void finished();
    void failed(const QString& description);

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    QString completionProblem() const;
    void fail(const QString& description);
    void release();

    QNetworkAccessManager& network_;
    QUrl source_;
    QString destination_;
    std::unique_ptr<QTemporaryFile> file_;
    QNetworkReply* reply_ = nullptr;
    QByteArray head_;
    qint64 expected_ = -1;
    qint64 received_ = 0;
    bool responded_ = false;
};

}  // namespace siderama
