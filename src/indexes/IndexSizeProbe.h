#pragma once

#include "indexes/DownloadPolicy.h"

#include <QObject>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

namespace siderama {

// Asks the index-file server for the sizes of files with HEAD requests, a
// few at a time, following redirects as downloads do. Each answer is
// reported as it comes; a file whose size cannot be learnt is reported as -1.
class IndexSizeProbe : public QObject {
    Q_OBJECT
public:
    static constexpr int parallel = 4;

    explicit IndexSizeProbe(QNetworkAccessManager& network, DownloadPolicy policy = {}, QObject* parent = nullptr);
    ~IndexSizeProbe() override;

    // Adds names to ask for; a name already asked for or waiting is skipped.
    void ask(const QStringList& fileNames);
    void cancel();
    bool busy() const { return !waiting_.isEmpty() || !replies_.isEmpty(); }

signals:
    void sized(const QString& fileName, qint64 size);
    void allSized();

private:
    void startMore();
    void head(const QUrl& location, const QString& fileName, int redirects);
    void onFinished(QNetworkReply* reply, const QString& fileName, int redirects);

    QNetworkAccessManager& network_;
    DownloadPolicy policy_;
    QStringList waiting_;
    QList<QNetworkReply*> replies_;
    QStringList asked_;
};

}  // namespace siderama
