#include "indexes/IndexManagerDelegate.h"

#include "indexes/IndexCatalogue.h"
#include "indexes/IndexLog.h"
#include "indexes/IndexServer.h"

#include <cstdlib>

namespace siderama {

IndexManagerDelegate::IndexManagerDelegate(IndexManagerView& view, const QString& folder,
                                           DistributionIndexes distribution)
    : view_(view), folder_(folder), distribution_(std::move(distribution)), queue_(folder) {
    connectQueue();
    view_.setDelegate(this);
    view_.setTransferring(false);
}

IndexManagerDelegate::~IndexManagerDelegate() {
    queue_.abort();
    view_.setDelegate(nullptr);
}

void IndexManagerDelegate::connectQueue() {
    QObject::connect(&queue_, &IndexDownloadQueue::fileStarted, &queue_,
                     [this](const QString& fileName) { onFileStarted(fileName); });
    QObject::connect(&queue_, &IndexDownloadQueue::fileResponded, &queue_, [this](qint64 length) {
        setStatus(status_ + " (" + QString::number(length) + " bytes)");
        showFile(fileValue_, length);
    });
    QObject::connect(&queue_, &IndexDownloadQueue::fileProgress, &queue_,
                     [this](qint64 received) { showFile(received, fileMaximum_); });
    QObject::connect(&queue_, &IndexDownloadQueue::fileFailed, &queue_,
                     [this](const QString& fileName, const QString& description) { onFileFailed(fileName, description); });
    QObject::connect(&queue_, &IndexDownloadQueue::fileNotStarted, &queue_, [this](const QString& fileName) {
        setStatus("Failed to download " + fileName);
        setTransferring(false);
    });
    QObject::connect(&queue_, &IndexDownloadQueue::allDone, &queue_, [this] {
        setStatus("Done");
        setTransferring(false);
    });
}

void IndexManagerDelegate::showIfNoIndexFound() {
    if (folder_.installedCount() == 0) show();
}

void IndexManagerDelegate::refresh() {
    if (!folder_.exists() && !folder_.create()) {
        qCWarning(lcIndexes).noquote() << "Can't create " + folder_.path();
        std::exit(1);
    }
    if (!transferring_) folder_.removePartials();
    for (const QString& key : allKeys()) validate(key);
}

void IndexManagerDelegate::show() {
    refresh();
    view_.present();
}

void IndexManagerDelegate::go() {
    if (transferring_) return;
    queue_.clear();
    for (const QString& key : allKeys()) process(key);
    const auto queued = queue_.pending().size();
    if (queued == 0) {
        showQueue(0, FILES().entries().size());
        return;
    }
    setTransferring(true);
    showQueue(0, queued);
    queue_.downloadNext();
}

void IndexManagerDelegate::abort() {
    queue_.abort();
    setStatus("Aborted");
    setTransferring(false);
    showQueue(0, queueMaximum_);
}

void IndexManagerDelegate::readme() { view_.openLocation(IndexServer::readmeLocation()); }

CheckState IndexManagerDelegate::afterClick(CheckState state) {
    return state == CheckState::mixed ? CheckState::on : state;
}

KeyStatus IndexManagerDelegate::keyStatus(const QString& key) const {
    KeyStatus status;
    const auto files = FILES().lookup(key);
    if (!files) return status;
    status.total = int(files->size());
    for (const QString& name : *files) {
        if (folder_.has(name)) ++status.present;
        else if (distribution_.sourceOf(name)) ++status.linkable;
    }
    if (status.present > 0) status.state = status.present == status.total ? CheckState::on : CheckState::mixed;
    return status;
}

void IndexManagerDelegate::validate(const QString& key) { view_.setKeyStatus(key, keyStatus(key)); }

void IndexManagerDelegate::process(const QString& key) {
    const auto files = FILES().lookup(key);
    if (!files) return;
    const CheckState state = view_.keyState(key);
    for (const QString& name : *files) {
        const bool present = folder_.has(name);
        if (present && state == CheckState::off) remove(name);
        else if (!present && state == CheckState::on) fetch(name);
    }
}

// A file the distribution installed is linked in; any other is queued.
void IndexManagerDelegate::fetch(const QString& fileName) {
    const auto source = distribution_.sourceOf(fileName);
    if (source && folder_.link(*source, fileName)) {
        setStatus("Linked " + fileName);
        return;
    }
    queue_.enqueue(fileName);
}

void IndexManagerDelegate::remove(const QString& fileName) {
    if (folder_.trash(fileName)) {
        setStatus("Removed " + fileName);
        return;
    }
    qCWarning(lcIndexes).noquote() << "Can't move " + folder_.pathOf(fileName) + " to the Trash";
    setStatus("Can't remove " + fileName);
}

// The series 4100 boxes come first, then the series 4200 boxes.
QStringList IndexManagerDelegate::allKeys() const {
    return FILES().keys(IndexSeries::s4100) + FILES().keys(IndexSeries::s4200);
}

void IndexManagerDelegate::setStatus(const QString& text) {
    status_ = text;
    view_.setStatusText(text);
}

void IndexManagerDelegate::setTransferring(bool transferring) {
    transferring_ = transferring;
    view_.setTransferring(transferring);
}

void IndexManagerDelegate::showQueue(qint64 value, qint64 maximum) {
    queueValue_ = value;
    queueMaximum_ = maximum;
    view_.setQueueProgress(value, maximum);
}

void IndexManagerDelegate::showFile(qint64 value, qint64 maximum) {
    fileValue_ = value;
    fileMaximum_ = maximum;
    view_.setFileProgress(value, maximum);
}

void IndexManagerDelegate::onFileStarted(const QString& fileName) {
    showQueue(queueValue_ + 1, queueMaximum_);
    setStatus("Downloading " + fileName);
    showFile(0, fileMaximum_);
}

void IndexManagerDelegate::onFileFailed(const QString& fileName, const QString& description) {
    qCWarning(lcIndexes).noquote() << "file failed " + fileName + ": " + description;
    setStatus(status_ + " - failed");
    setTransferring(false);
}

}  // namespace siderama
