#include "indexes/IndexDownload.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>

#include <cstdio>

namespace siderama {

namespace {

// Every FITS file opens with this card.
const QByteArray fitsStart = "SIMPLE  =";

}  // namespace

IndexDownload::IndexDownload(QNetworkAccessManager& network, QUrl source, QString destination, QObject* parent)
    : QObject(parent), network_(network), source_(std::move(source)), destination_(std::move(destination)) {}

IndexDownload::~IndexDownload() { release(); }

bool IndexDownload::start() {
    const QFileInfo target(destination_);
    file_ = std::make_unique<QTemporaryFile>(target.absolutePath() + "/." + target.fileName() + ".XXXXXX.part");
    if (!file_->open()) {
        file_.reset();
        return false;
    }
    QNetworkRequest request(source_);
    request.setTransferTimeout(timeoutMs);
    // An unencoded body, so that the received length can be compared with
    // the announced one.
    request.setRawHeader("Accept-Encoding", "identity");
    reply_ = network_.get(request);
    connect(reply_, &QNetworkReply::metaDataChanged, this, &IndexDownload::onMetaData);
    connect(reply_, &QNetworkReply::readyRead, this, &IndexDownload::onReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &IndexDownload::onFinished);
    emit began();
    return true;
}

void IndexDownload::cancel() { release(); }

void IndexDownload::onMetaData() {
    if (!reply_ || responded_) return;
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return;
    const int code = status.toInt();
    const bool redirect = code >= 300 && code < 400 && reply_->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid();
    if (redirect) return;  // followed by the network manager
    if (code != 200) {
        const QString reason = reply_->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        fail(QString("HTTP status %1 %2").arg(code).arg(reason).trimmed());
        return;
    }
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    expected_ = length.isValid() ? length.toLongLong() : -1;
    responded_ = true;
    emit responded(expected_);
}

void IndexDownload::onReadyRead() {
    if (!responded_) onMetaData();
    if (!reply_ || !responded_) return;
    const QByteArray chunk = reply_->readAll();
    if (chunk.isEmpty()) return;
    if (head_.size() < fitsStart.size()) head_ += chunk.left(fitsStart.size() - head_.size());
    if (file_->write(chunk) != chunk.size()) {
        fail("cannot write " + file_->fileName() + ": " + file_->errorString());
        return;
    }
    received_ += chunk.size();
    emit received(received_);
}

void IndexDownload::onFinished() {
    if (!reply_) return;
    if (reply_->error() != QNetworkReply::NoError) {
        fail(reply_->errorString());
        return;
    }
    onReadyRead();
    if (!reply_) return;
    if (!responded_) {
        fail("no HTTP response");
        return;
    }
    if (const QString problem = completionProblem(); !problem.isEmpty()) {
        fail(problem);
        return;
    }
    file_->setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    file_->close();
    // rename(2) replaces whatever stands at the destination, a link included,
    // without writing through it.
    if (std::rename(QFile::encodeName(file_->fileName()).constData(), QFile::encodeName(destination_).constData()) != 0) {
        fail("cannot rename to " + destination_);
        return;
    }
    file_->setAutoRemove(false);
    release();
    emit finished();
}

QString IndexDownload::completionProblem() const {
    if (expected_ >= 0 && received_ != expected_)
        return QString("received %1 of %2 bytes").arg(received_).arg(expected_);
    if (!head_.startsWith(fitsStart)) return "not a FITS file";
    return {};
}

void IndexDownload::fail(const QString& description) {
    release();
    emit failed(description);
}

void IndexDownload::release() {
    if (reply_) {
        disconnect(reply_, nullptr, this, nullptr);
        reply_->abort();
        reply_->deleteLater();
        reply_ = nullptr;
    }
    file_.reset();
}

}  // namespace siderama
