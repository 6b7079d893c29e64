#include "indexes/IndexSizeProbe.h"

#include "indexes/IndexServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace siderama {

IndexSizeProbe::IndexSizeProbe(QNetworkAccessManager& network, DownloadPolicy policy, QObject* parent)
    : QObject(parent), network_(network), policy_(policy) {}

IndexSizeProbe::~IndexSizeProbe() { cancel(); }

void IndexSizeProbe::ask(const QStringList& fileNames) {
    for (const QString& name : fileNames)
        if (!asked_.contains(name)) {
            asked_ << name;
            waiting_ << name;
        }
    startMore();
}

void IndexSizeProbe::cancel() {
    waiting_.clear();
    asked_.clear();
    for (QNetworkReply* reply : std::exchange(replies_, {})) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void IndexSizeProbe::startMore() {
    while (replies_.size() < parallel && !waiting_.isEmpty()) {
        const QString name = waiting_.takeFirst();
        const auto location = IndexServer::locationOf(name);
        if (!location) {
            emit sized(name, -1);
            continue;
        }
        QNetworkRequest request(*location);
        request.setRawHeader("Accept-Encoding", "identity");
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setMaximumRedirectsAllowed(policy_.maxRedirects);
        request.setTransferTimeout(policy_.stallWindowMs);
        QNetworkReply* reply = network_.head(request);
        replies_ << reply;
        connect(reply, &QNetworkReply::finished, this, [this, reply, name] { onFinished(reply, name); });
    }
    if (replies_.isEmpty()) emit allSized();
}

void IndexSizeProbe::onFinished(QNetworkReply* reply, const QString& fileName) {
    replies_.removeOne(reply);
    reply->deleteLater();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const bool ok = reply->error() == QNetworkReply::NoError && length.isValid();
    emit sized(fileName, ok ? length.toLongLong() : -1);
    startMore();
}

}  // namespace siderama
