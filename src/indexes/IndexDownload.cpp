#include "indexes/IndexDownload.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStorageInfo>

namespace siderama {

namespace {

// Failures worth another attempt: the network's (resets, refusals, time-outs)
// and the server's own (5xx), not TLS trouble.
bool isTransient(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::SslHandshakeFailedError:
    default: break;
    }
    return (error > 0 && error < 100) || (error > 400 && error < 500);
}

QString statusText(QNetworkReply* reply, int status) {
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    return QString("HTTP status %1 %2").arg(status).arg(reason).trimmed();
}

}  // namespace

IndexDownload::IndexDownload(QNetworkAccessManager& network, QUrl source, QString destination, qint64 knownLength,
                             DownloadPolicy policy, QObject* parent)
    : QObject(parent), network_(network), source_(std::move(source)), destination_(std::move(destination)),
      knownLength_(knownLength), policy_(policy), partial_(destination_) {
    stallTimer_.setInterval(policy_.stallWindowMs);
    connect(&stallTimer_, &QTimer::timeout, this, &IndexDownload::checkStall);
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &IndexDownload::request);
}

IndexDownload::~IndexDownload() { dropReply(); }

bool IndexDownload::start() {
    if (!partial_.open()) return false;
    held_ = furthest_ = partial_.size();
    emit began();
    request();
    return true;
}

void IndexDownload::cancel() {
    retryTimer_.stop();
    stallTimer_.stop();
    dropReply();
    if (partial_.size() == 0) partial_.discard();
}

// One attempt: the whole file, or the rest of it after the bytes held when
// the server still has the same file (If-Range).
void IndexDownload::request() {
    accepted_ = false;
    held_ = partial_.size();
    lastCheck_ = fetched_;
    redirects_ = 0;
    send(source_);
    stallTimer_.start();
}

void IndexDownload::send(const QUrl& location) {
    QNetworkRequest request(location);
    // An unencoded body, so that the received length can be compared with
    // the announced one.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (held_ > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(held_) + "-");
        request.setRawHeader("If-Range", partial_.identity()->ifRange());
    }
    reply_ = network_.get(request);
    connect(reply_, &QNetworkReply::metaDataChanged, this, &IndexDownload::onMetaData);
    connect(reply_, &QNetworkReply::readyRead, this, &IndexDownload::onReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &IndexDownload::onFinished);
}

// Redirects are followed here, not by the network manager: a few, and only
// to the same scheme.
void IndexDownload::follow(const QUrl& target) {
    if (target.scheme() != source_.scheme()) {
        fail("redirect to another scheme refused: " + target.toString(), false);
        return;
    }
    if (++redirects_ > policy_.maxRedirects) {
        fail(QString("more than %1 redirects").arg(policy_.maxRedirects), false);
        return;
    }
    dropReply();
    send(target);
}

void IndexDownload::onMetaData() {
    if (!reply_ || accepted_) return;
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return;
    const int code = status.toInt();
    if (code >= 300 && code < 400 && reply_->hasRawHeader("Location")) {
        follow(reply_->url().resolved(QUrl::fromEncoded(reply_->rawHeader("Location"))));
        return;
    }
    if (!acceptAnswer(code)) return;
    accepted_ = true;
    if (responded_) return;
    responded_ = true;
    emit responded(expected_);
}

// A whole body (200) replaces what is held; a part (206) continues it. The
// length must be known, and the disk must have room for the rest.
bool IndexDownload::acceptAnswer(int status) {
    if (status >= 500 || status == 416) {
        if (status == 416) startOver();  // the bytes held are no prefix of the file
        retry(statusText(reply_, status));
        return false;
    }
    if (status != 200 && status != 206) {
        fail(statusText(reply_, status), false);
        return false;
    }
    if (!(status == 206 ? acceptRange() : acceptWhole())) return false;
    expected_ = partial_.identity()->length;
    const qint64 free = QStorageInfo(QFileInfo(destination_).absolutePath()).bytesAvailable();
    if (free < 0 || free >= expected_ - held_) return true;
    fail(QString("disk full: %1 more bytes needed, %2 free").arg(expected_ - held_).arg(free));
    return false;
}

// The length announced, else the size remembered for the file.
bool IndexDownload::acceptWhole() {
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    const RemoteFileIdentity identity = answeredIdentity(length.isValid() ? length.toLongLong() : knownLength_);
    if (identity.length < 0) {
        fail("the server announced no length", false);
        return false;
    }
    if (!partial_.restart(identity)) {
        fail(partial_.error());
        return false;
    }
    held_ = 0;
    return true;
}

// "Content-Range: bytes START-END/TOTAL" must continue the bytes held, of
// the same file.
bool IndexDownload::acceptRange() {
    static const QRegularExpression pattern(R"(^bytes (\d+)-(\d+)/(\d+)$)");
    const auto match = pattern.match(QString::fromLatin1(reply_->rawHeader("Content-Range")).trimmed());
    const auto held = partial_.identity();
    QString problem;
    if (!held || !match.hasMatch() || match.captured(1).toLongLong() != held_) problem = "a part that does not continue the file";
    else if (!answeredIdentity(match.captured(3).toLongLong()).sameFileAs(*held)) problem = "the file changed on the server";
    if (problem.isEmpty()) return true;
    startOver();
    retry(problem);
    return false;
}

void IndexDownload::startOver() {
    partial_.clear();
    held_ = furthest_ = 0;
}

RemoteFileIdentity IndexDownload::answeredIdentity(qint64 length) const {
    return {reply_->rawHeader("ETag"), reply_->rawHeader("Last-Modified"), length};
}

// A body longer than announced is cut at the announced length and refused.
void IndexDownload::onReadyRead() {
    if (!accepted_) onMetaData();
    if (!reply_ || !accepted_) return;
    QByteArray chunk = reply_->readAll();
    if (chunk.isEmpty()) return;
    fetched_ += chunk.size();
    const bool tooLong = held_ + chunk.size() > expected_;
    if (tooLong) chunk.truncate(expected_ - held_);
    if (!partial_.append(chunk)) {
        fail(partial_.error());
        return;
    }
    held_ += chunk.size();
    emit received(held_);
    if (tooLong) fail(QString("the body is longer than the announced %1 bytes").arg(expected_), false);
}

void IndexDownload::onFinished() {
    QNetworkReply* const reply = reply_;
    if (!reply) return;
    onReadyRead();
    if (reply_ != reply) return;  // failed, retried or redirected meanwhile
    const QNetworkReply::NetworkError error = reply_->error();
    if (error != QNetworkReply::NoError && isTransient(error)) retry(reply_->errorString());
    else if (error != QNetworkReply::NoError) fail(reply_->errorString(), false);
    else if (!accepted_) fail("no HTTP response", false);
    else if (held_ < expected_) retry(QString("connection closed after %1 of %2 bytes").arg(held_).arg(expected_));
    else complete();
}

// Too little data over the last window: the attempt is given up.
void IndexDownload::checkStall() {
    const qint64 minimum = policy_.minimumRate * policy_.stallWindowMs / 1000;
    if (fetched_ - lastCheck_ >= minimum) {
        lastCheck_ = fetched_;
        return;
    }
    retry(QString("stalled: less than %1 bytes/s for %2 s").arg(policy_.minimumRate).arg(policy_.stallWindowMs / 1000.0));
}

void IndexDownload::complete() {
    stallTimer_.stop();
    dropReply();
    if (const QString problem = partial_.commit(expected_); !problem.isEmpty()) {
        fail(problem, false);
        return;
    }
    emit finished();
}

// An attempt that took the file at least a stall window's worth of bytes
// further than any before resets the count of failures in a row; one that
// starts over and breaks at the same place does not.
void IndexDownload::retry(const QString& description) {
    stallTimer_.stop();
    dropReply();
    if (held_ >= furthest_ + policy_.minimumRate * policy_.stallWindowMs / 1000) failuresInRow_ = 0;
    furthest_ = qMax(furthest_, held_);
    if (++failuresInRow_ >= policy_.attempts) {
        fail(description);
        return;
    }
    const int delay = policy_.firstRetryDelayMs << (failuresInRow_ - 1);
    emit retrying(description, delay);
    retryTimer_.start(delay);
}

void IndexDownload::fail(const QString& description, bool keepPartial) {
    stallTimer_.stop();
    retryTimer_.stop();
    dropReply();
    if (!keepPartial || partial_.size() == 0) partial_.discard();
    emit failed(description);
}

void IndexDownload::dropReply() {
    if (!reply_) return;
    disconnect(reply_, nullptr, this, nullptr);
    reply_->abort();
    reply_->deleteLater();
    reply_ = nullptr;
}

}  // namespace siderama
