#pragma once

#include "core/Constants.h"
#include "indexes/DistributionIndexes.h"
#include "indexes/IndexDownloadQueue.h"
#include "indexes/IndexFolder.h"
#include "indexes/IndexManagerView.h"

#include <QString>
#include <QStringList>

namespace siderama {

// The index manager: compares the catalogue with the index directory, shows
// each key's state on its view, and on apply downloads the missing files of
// ticked keys (one at a time), links the ones the distribution installed,
// and moves the present files of unticked keys to the Trash. Main thread only.
class IndexManagerDelegate {
public:
    explicit IndexManagerDelegate(IndexManagerView& view, const QString& folder = FOLDER(),
                                  DistributionIndexes distribution = DistributionIndexes::fromEnvironment());
    ~IndexManagerDelegate();
    IndexManagerDelegate(const IndexManagerDelegate&) = delete;
    IndexManagerDelegate& operator=(const IndexManagerDelegate&) = delete;

    // Start-up check: shows the view when not one catalogue file is present.
    void showIfNoIndexFound();
    // Creates the index directory (the process ends with status 1 when that
    // fails), clears what interrupted transfers left, and sets every key's
    // state on the view from the disk.
    void refresh();
    // refresh(), then presents the view.
    void show();
    // Applies the view's key states: removals and links at once, downloads
    // queued and started.
    void go();
    void abort();
    void readme();

    // A user's click never leaves a box mixed: mixed becomes on.
    static CheckState afterClick(CheckState state);

    KeyStatus keyStatus(const QString& key) const;
    bool transferring() const { return transferring_; }
    const QStringList& queue() const { return queue_.pending(); }
    const IndexFolder& folder() const { return folder_; }

private:
    void connectQueue();
    void validate(const QString& key);
    void process(const QString& key);
    void fetch(const QString& fileName);
    void remove(const QString& fileName);
    QStringList allKeys() const;

    void setStatus(const QString& text);
    void setTransferring(bool transferring);
    void showQueue(qint64 value, qint64 maximum);
    void showFile(qint64 value, qint64 maximum);
    void onFileStarted(const QString& fileName);
    void onFileFailed(const QString& fileName, const QString& description);

    IndexManagerView& view_;
    IndexFolder folder_;
    DistributionIndexes distribution_;
    IndexDownloadQueue queue_;
    QString status_;
    qint64 queueValue_ = 0;
    qint64 queueMaximum_ = 0;
    qint64 fileValue_ = 0;
    qint64 fileMaximum_ = 0;
    bool transferring_ = false;
};

}  // namespace siderama
