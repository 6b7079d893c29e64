#include "indexes/IndexDownloadQueue.h"

#include "indexes/IndexDownload.h"
#include "indexes/IndexServer.h"

#include <QNetworkAccessManager>

namespace siderama {

IndexDownloadQueue::IndexDownloadQueue(QString folder, QObject* parent)
    : QObject(parent), folder_(std::move(folder)), network_(new QNetworkAccessManager(this)) {}

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
    current_ = new IndexDownload(*network_, *location, folder_ + "/" + fileName, this);
    connect(current_, &IndexDownload::responded, this, &IndexDownloadQueue::fileResponded);
    connect(current_, &IndexDownload::received, this, &IndexDownloadQueue::fileProgress);
    connect(current_, &IndexDownload::finished, this, &IndexDownloadQueue::onFinished);
    connect(current_, &IndexDownload::failed, this,
            [this, fileName](const QString& description) { emit fileFailed(fileName, description); });
    if (!current_->start()) emit fileNotStarted(fileName);
}

// The next file starts from the event loop, outside the finished transfer's
// own signal, and not at all if the queue was aborted in between.
void IndexDownloadQueue::onFinished() {
    advancing_ = true;
    QMetaObject::invokeMethod(
        this, [this] { if (advancing_) downloadNext(); }, Qt::QueuedConnection);
}

void IndexDownloadQueue::dropCurrent() {
    if (!current_) return;
    current_->disconnect(this);
    current_->cancel();
    current_->deleteLater();
    current_ = nullptr;
}

}  // namespace siderama
