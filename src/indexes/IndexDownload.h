#pragma once

#include "indexes/DownloadPolicy.h"
#include "indexes/PartialFile.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace siderama {

// One index-file transfer into the hidden partial file beside the save
// location (see PartialFile), renamed over it only when complete: the
// length the server announced (or the size remembered for the file, when it
// announces none), and a FITS header at the start. A broken transfer is
// continued with a range request after a pause, a few times (DownloadPolicy);
// it starts over only when the server's validators say the file changed or
// the server ignores ranges. A failure or cancel keeps the partial file for
// the next transfer, unless its content is wrong. Runs on the thread that
// created it; all signals come from its event loop.
class IndexDownload : public QObject {
    Q_OBJECT
public:
    // `knownLength` is the file's size when it was asked for earlier, or -1.
    IndexDownload(QNetworkAccessManager& network, QUrl source, QString destination, qint64 knownLength = -1,
                  DownloadPolicy policy = {}, QObject* parent = nullptr);
    ~IndexDownload() override;

    // Starts the transfer; false when the partial file cannot be opened.
    bool start();
    // Stops the transfer; no signal follows. The partial file stays when it
    // holds bytes to continue.
    void cancel();

    QString error() const { return partial_.error(); }
    // Bytes of the file held so far (continued transfers included).
    qint64 receivedLength() const { return held_; }
    // Bytes that came over the network for this file, in every attempt.
    qint64 fetchedLength() const { return fetched_; }

signals:
    void began();
    // The first accepted answer, with the file's whole length.
    void responded(qint64 expectedLength);
    void received(qint64 receivedLength);
    // A transient failure; the next attempt starts after `delayMs`.
    void retrying(const QString& description, int delayMs);
    void finished();
    void failed(const QString& description);

private:
    void request();
    void send(const QUrl& location);
    void follow(const QUrl& target);
    void onMetaData();
    bool acceptAnswer(int status);
    bool acceptWhole();
    bool acceptRange();
    void onReadyRead();
    void onFinished();
    void checkStall();
    void startOver();
    void complete();
    void retry(const QString& description);
    void fail(const QString& description, bool keepPartial = true);
    void dropReply();
    RemoteFileIdentity answeredIdentity(qint64 length) const;

    QNetworkAccessManager& network_;
    QUrl source_;
    QString destination_;
    qint64 knownLength_;
    DownloadPolicy policy_;
    PartialFile partial_;
    QNetworkReply* reply_ = nullptr;
    QTimer stallTimer_;
    QTimer retryTimer_;
    qint64 expected_ = -1;
    qint64 held_ = 0;
    qint64 fetched_ = 0;
    qint64 furthest_ = 0;  // most bytes held by any attempt
    qint64 lastCheck_ = 0;
    int failuresInRow_ = 0;
    int redirects_ = 0;  // followed in this attempt
    bool accepted_ = false;
    bool responded_ = false;
};

}  // namespace siderama
