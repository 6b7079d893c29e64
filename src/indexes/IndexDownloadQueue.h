#pragma once

#include "indexes/DownloadPolicy.h"
#include "indexes/IndexSizes.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;

namespace siderama {

class IndexDownload;

// Fetches queued index file names one at a time from their series' base
// location into the index directory, remembering the sizes the server
// announces. A failure stops the queue; the names behind it stay queued
// until the queue is cleared. Main thread only.
class IndexDownloadQueue : public QObject {
    Q_OBJECT
public:
    explicit IndexDownloadQueue(QString folder, DownloadPolicy policy = {}, QObject* parent = nullptr);
    ~IndexDownloadQueue() override;

    void clear();
    void enqueue(const QString& fileName);
    const QStringList& pending() const { return pending_; }
    IndexSizes& sizes() { return sizes_; }
    const IndexSizes& sizes() const { return sizes_; }
    QNetworkAccessManager& network() { return *network_; }
    // Bytes that came over the network since the queue was made.
    qint64 fetchedTotal() const;

    // Starts the first queued name, or reports allDone when none is left.
    void downloadNext();
    // Empties the queue and cancels the transfer; nothing is reported after.
    void abort();

signals:
    void fileStarted(const QString& fileName);
    void fileResponded(qint64 expectedLength);
    void fileProgress(qint64 receivedLength);
    // A transient failure; the transfer goes on after `delayMs`.
    void fileRetrying(const QString& description, int delayMs);
    void fileFailed(const QString& fileName, const QString& description);
    // The name has no download location or no temporary file could be made.
    void fileNotStarted(const QString& fileName);
    void allDone();

private:
    void start(const QString& fileName);
    void onFinished();
    void dropCurrent();

    QString folder_;
    DownloadPolicy policy_;
    IndexSizes sizes_;
    QNetworkAccessManager* network_;
    IndexDownload* current_ = nullptr;
    QStringList pending_;
    qint64 fetchedBefore_ = 0;  // by transfers already dropped
    bool advancing_ = false;
};

}  // namespace siderama
