#include "indexes/IndexManagerDelegate.h"

#include "core/Defaults.h"
#include "indexes/FieldPlanner.h"
#include "indexes/IndexCatalogue.h"
#include "indexes/IndexLog.h"
#include "indexes/IndexServer.h"
#include "indexes/PartialFile.h"

#include <QFileInfo>
#include <QStorageInfo>


namespace siderama {

IndexManagerDelegate::IndexManagerDelegate(IndexManagerView& view, const QString& folder,
                                           DistributionIndexes distribution, DownloadPolicy policy)
    : view_(view), folder_(folder), distribution_(std::move(distribution)), queue_(folder, policy),
      probe_(queue_.network(), policy) {
    connectQueue();
    connectProbe();
    view_.setDelegate(this);
    view_.setTransferring(false);
}

IndexManagerDelegate::~IndexManagerDelegate() {
    queue_.abort();
    probe_.cancel();
    view_.setDelegate(nullptr);
}

void IndexManagerDelegate::connectQueue() {
    QObject::connect(&queue_, &IndexDownloadQueue::fileStarted, &queue_,
                     [this](const QString& fileName) { onFileStarted(fileName); });
    QObject::connect(&queue_, &IndexDownloadQueue::fileResponded, &queue_,
                     [this](qint64 length) { onFileResponded(length); });
    QObject::connect(&queue_, &IndexDownloadQueue::fileProgress, &queue_, [this](qint64 received) {
        showFile(received, fileMaximum_);
        showTransfer(received);
    });
    QObject::connect(&queue_, &IndexDownloadQueue::fileRetrying, &queue_, [this](const QString& why, int delayMs) {
        qCInfo(lcIndexes).noquote() << "file interrupted: " + why;
        setStatus(fileStatus_ + " - " + why + QString(", retrying in %1 s").arg((delayMs + 999) / 1000));
        status_ = fileStatus_;
    });
    QObject::connect(&queue_, &IndexDownloadQueue::fileFailed, &queue_,
                     [this](const QString& fileName, const QString& description) { onFileFailed(fileName, description); });
    QObject::connect(&queue_, &IndexDownloadQueue::fileNotStarted, &queue_, [this](const QString& fileName) {
        setStatus("Failed to download " + fileName);
        setTransferring(false);
    });
    QObject::connect(&queue_, &IndexDownloadQueue::allDone, &queue_, [this] {
        setStatus("Done");
        setTransferring(false);
        showCost();
    });
}

void IndexManagerDelegate::connectProbe() {
    QObject::connect(&probe_, &IndexSizeProbe::sized, &probe_,
                     [this](const QString& fileName, qint64 size) { queue_.sizes().remember(fileName, size); });
    QObject::connect(&probe_, &IndexSizeProbe::allSized, &probe_, [this] { showCost(); });
}

bool IndexManagerDelegate::showIfNoIndexFound() { return folder_.installedCount() > 0 || show(); }

bool IndexManagerDelegate::refresh() {
    if (!folder_.exists() && !folder_.create()) {
        qCWarning(lcIndexes).noquote() << "Can't create " + folder_.path();
        return false;
    }
    for (const QString& key : allKeys()) validate(key);
    showCost();
    return true;
}

bool IndexManagerDelegate::show() {
    if (!refresh()) return false;
    view_.present();
    return true;
}

void IndexManagerDelegate::go() {
    if (transferring_) return;
    if (const DownloadCost needed = cost(); !needed.fits()) {
        setStatus(needed.shortage(folder_.path()));
        return;
    }
    queue_.clear();
    for (const QString& key : allKeys()) process(key);
    const auto queued = queue_.pending().size();
    if (queued == 0) {
        showQueue(0, FILES().entries().size());
        return;
    }
    setTransferring(true);
    showQueue(0, queued);
    QList<qint64> sizes;
    for (const QString& name : queue_.pending()) sizes << queue_.sizes().sizeOf(name);
    progress_.begin(sizes);
    queue_.downloadNext();
}

void IndexManagerDelegate::planForField(double degrees) {
    const QStringList suited = FieldPlanner::keysFor(degrees);
    for (const QString& key : allKeys()) {
        if (handSet(key)) continue;
        KeyStatus status = keyStatus(key);
        if (suited.contains(key)) status.state = CheckState::on;
        showKey(key, status);
    }
    setStatus(QString("A %1 field: %2 index keys suit it (%3)")
                  .arg(FieldPlanner::describeWidth(degrees))
                  .arg(suited.size())
                  .arg(suited.join(", ")));
    ticksChanged();
}

bool IndexManagerDelegate::planForLastSolve() {
    const auto stored = Defaults::stringValue(lastFieldWidthKey);
    const auto degrees = stored ? FieldPlanner::parseWidth(*stored) : std::nullopt;
    if (!degrees) {
        setStatus("No image has been solved yet: type the field width");
        return false;
    }
    planForField(*degrees);
    return true;
}

void IndexManagerDelegate::ticksChanged() {
    const DownloadCost needed = cost();
    QStringList unknown;
    for (const auto& [name, size] : needed.files)
        if (size < 0) unknown << name;
    probe_.ask(unknown);
    if (!probe_.busy()) showCost();
}

void IndexManagerDelegate::askAllSizes() {
    QStringList unknown;
    for (const IndexKey& entry : FILES().entries())
        for (const QString& name : entry.files)
            if (queue_.sizes().sizeOf(name) < 0 && !folder_.has(name)) unknown << name;
    probe_.ask(unknown);
}

// Files of ticked keys that are neither present nor linked from the
// distribution, less what partial transfers already hold.
DownloadCost IndexManagerDelegate::cost() const {
    DownloadCost cost;
    cost.free = QStorageInfo(folder_.path()).bytesAvailable();
    for (const QString& name : filesToFetch()) {
        const qint64 size = queue_.sizes().sizeOf(name);
        cost.files.append({name, size});
        if (size < 0) ++cost.unknown;
        else cost.total += qMax<qint64>(0, size - QFileInfo(PartialFile::partPath(folder_.pathOf(name))).size());
    }
    return cost;
}

QStringList IndexManagerDelegate::filesToFetch() const {
    QStringList names;
    for (const QString& key : allKeys()) {
        if (view_.keyState(key) != CheckState::on) continue;
        for (const QString& name : FILES().entry(key)->files)
            if (!folder_.has(name) && !distribution_.sourceOf(name)) names << name;
    }
    return names;
}

// Present files count with their size on disk.
qint64 IndexManagerDelegate::keySize(const QString& key) const {
    qint64 total = 0;
    for (const QString& name : FILES().entry(key)->files) {
        const qint64 size = folder_.has(name) ? QFileInfo(folder_.pathOf(name)).size() : queue_.sizes().sizeOf(name);
        if (size < 0) return -1;
        total += size;
    }
    return total;
}

void IndexManagerDelegate::showCost() {
    for (const QString& key : allKeys()) view_.setKeySize(key, keySize(key));
    view_.setDownloadCost(cost());
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

void IndexManagerDelegate::validate(const QString& key) { showKey(key, keyStatus(key)); }

void IndexManagerDelegate::showKey(const QString& key, const KeyStatus& status) {
    shown_[key] = status.state;
    view_.setKeyStatus(key, status);
}

// A box whose state is not the one the manager put there was set by hand.
bool IndexManagerDelegate::handSet(const QString& key) const {
    return view_.keyState(key) != shown_.value(key, CheckState::off);
}

void IndexManagerDelegate::process(const QString& key) {
    const auto files = FILES().lookup(key);
    if (!files) return;
    const CheckState state = view_.keyState(key);
    for (const QString& name : *files) {
        const bool present = folder_.has(name);
        if (present && state == CheckState::off) remove(name);
        else if (!present && state == CheckState::on) fetch(name);
        else if (!present && state == CheckState::off) PartialFile::discard(folder_.pathOf(name));
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
    fileStatus_ = status_;
    progress_.fileStarted(queue_.sizes().sizeOf(fileName));
    showFile(0, fileMaximum_);
}

void IndexManagerDelegate::onFileResponded(qint64 length) {
    progress_.fileResponded(length);
    setStatus(status_ + " (" + QString::number(length) + " bytes)");
    fileStatus_ = status_;
    showFile(fileValue_, length);
    showTransfer(fileValue_, true);
}

void IndexManagerDelegate::showTransfer(qint64 received, bool force) {
    if (const auto progress = progress_.received(received, queue_.fetchedTotal(), force))
        view_.setTransferProgress(*progress);
}

void IndexManagerDelegate::onFileFailed(const QString& fileName, const QString& description) {
    qCWarning(lcIndexes).noquote() << "file failed " + fileName + ": " + description;
    setStatus(status_ + " - failed");
    setTransferring(false);
}

}  // namespace siderama
