#include "indexes/IndexDownloadQueue.h"

#include "indexes/IndexDownload.h"
#include "indexes/IndexServer.h"

#include <QNetworkAccessManager>

namespace siderama {

IndexDownloadQueue::IndexDownloadQueue(QString folder, DownloadPolicy policy, QObject* parent)
    : QObject(parent), folder_(std::move(folder)), policy_(policy), sizes_(),
      network_(new QNetworkAccessManager(this)) {}

IndexDownloadQueue::~IndexDownloadQueue() { dropCurrent(); }

void IndexDownloadQueue::clear() { pending_.clear(); }

void IndexDownloadQueue::enqueue(const QString& fileName) { pending_ << fileName; }

void IndexDownloadQueue::downloadNext() {
    advancing_ = false;
    dropCurrent();
    if (pending_.isEmpty()) {
        emit allDone();
        return;
    }
    const QString fileName = pending_.takeFirst();
    emit fileStarted(fileName);
    start(fileName);
}

void IndexDownloadQueue::abort() {
    pending_.clear();
    advancing_ = false;
    dropCurrent();
}

void IndexDownloadQueue::start(const QString& fileName) {
    const auto location = IndexServer::locationOf(fileName);
    if (!location) {
        emit fileNotStarted(fileName);
        return;
    }
    current_ = new IndexDownload(*network_, *location, folder_ + "/" + fileName, sizes_.sizeOf(fileName), policy_, this);
    connect(current_, &IndexDownload::responded, this, [this, fileName](qint64 length) {
        sizes_.remember(fileName, length);
        emit fileResponded(length);
    });
    connect(current_, &IndexDownload::retrying, this, &IndexDownloadQueue::fileRetrying);
    connect(current_, &IndexDownload::received, this, &IndexDownloadQueue::fileProgress);
    connect(current_, &IndexDownload::finished, this, &IndexDownloadQueue::onFinished);
    connect(current_, &IndexDownload::failed, this,
            [this, fileName](const QString& description) { emit fileFailed(fileName, description); });
    if (!current_->start()) emit fileFailed(fileName, current_->error());
}

// The next file starts from the event loop, outside the finished transfer's
// own signal, and not at all if the queue was aborted in between.
void IndexDownloadQueue::onFinished() {
    advancing_ = true;
    QMetaObject::invokeMethod(
        this, [this] { if (advancing_) downloadNext(); }, Qt::QueuedConnection);
}

qint64 IndexDownloadQueue::fetchedTotal() const {
    return fetchedBefore_ + (current_ ? current_->fetchedLength() : 0);
}

void IndexDownloadQueue::dropCurrent() {
    if (!current_) return;
    fetchedBefore_ += current_->fetchedLength();
    current_->disconnect(this);
    current_->cancel();
    current_->deleteLater();
    current_ = nullptr;
}

}  // namespace siderama
