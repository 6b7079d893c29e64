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
        if (location) head(*location, name, 0);
        else emit sized(name, -1);
    }
    if (replies_.isEmpty()) emit allSized();
}

void IndexSizeProbe::head(const QUrl& location, const QString& fileName, int redirects) {
    QNetworkRequest request(location);
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(policy_.stallWindowMs);
    QNetworkReply* reply = network_.head(request);
    replies_ << reply;
    connect(reply, &QNetworkReply::finished, this, [=, this] { onFinished(reply, fileName, redirects); });
}

// Redirects as for downloads: a few, to the same scheme.
void IndexSizeProbe::onFinished(QNetworkReply* reply, const QString& fileName, int redirects) {
    replies_.removeOne(reply);
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QUrl target = reply->url().resolved(QUrl::fromEncoded(reply->rawHeader("Location")));
    if (status >= 300 && status < 400 && reply->hasRawHeader("Location") && redirects < policy_.maxRedirects &&
        target.scheme() == reply->url().scheme()) {
        head(target, fileName, redirects + 1);
        return;
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const bool ok = reply->error() == QNetworkReply::NoError && status == 200 && length.isValid();
    emit sized(fileName, ok ? length.toLongLong() : -1);
    startMore();
}

}  // namespace siderama
