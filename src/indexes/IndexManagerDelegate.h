#pragma once

#include "core/Constants.h"
#include "indexes/DistributionIndexes.h"
#include "indexes/IndexDownloadQueue.h"
#include "indexes/IndexFolder.h"
#include "indexes/IndexManagerView.h"
#include "indexes/IndexSizeProbe.h"
#include "indexes/QueueProgress.h"

#include <QHash>

#include <QString>
#include <QStringList>

namespace siderama {

// The index manager: compares the catalogue with the index directory, shows
// each key's state on its view, and on apply downloads the missing files of
// ticked keys (one at a time), links the ones the distribution installed,
// and moves the present files of unticked keys to the Trash. It ticks the
// keys that suit a field of view, and tells what the ticks would download
// (sizes asked of the server once, then remembered) against the free space.
// Main thread only.
class IndexManagerDelegate {
public:
    // The user default holding the width of the last solved field, in degrees.
    static constexpr const char* lastFieldWidthKey = "lastFieldWidth";

    explicit IndexManagerDelegate(IndexManagerView& view, const QString& folder = FOLDER(),
                                  DistributionIndexes distribution = DistributionIndexes::fromEnvironment(),
                                  DownloadPolicy policy = {});
    ~IndexManagerDelegate();
    IndexManagerDelegate(const IndexManagerDelegate&) = delete;
    IndexManagerDelegate& operator=(const IndexManagerDelegate&) = delete;

    // Start-up check: shows the view when not one catalogue file is present.
    // False when the index directory cannot be created (see refresh()).
    [[nodiscard]] bool showIfNoIndexFound();
    // Creates the index directory, sets every key's state on the view from
    // the disk and shows the cost of the ticks. Partial files of interrupted
    // transfers stay for the next apply; unticking a key and applying
    // removes them. False, with "Can't create PATH" logged, when the
    // directory cannot be created: the caller ends the program.
    [[nodiscard]] bool refresh();
    // refresh(), then presents the view; false as refresh().
    [[nodiscard]] bool show();
    // Applies the view's key states (process() of every key) and starts the
    // downloads; refused when the downloads do not fit the disk.
    void go();
    // Ticks the keys that suit a field `degrees` wide and returns them to
    // what the disk holds otherwise; keys the user set by hand stay.
    void planForField(double degrees);
    // planForField() with the width of the last solved image; false (and a
    // status line) when no solve has measured one.
    bool planForLastSolve();
    // Ticks changed: shows the cost again, asking the server for sizes not
    // known yet.
    void ticksChanged();
    // Asks the server for the size of every missing catalogue file not
    // known yet, so that every key can show its size.
    void askAllSizes();
    DownloadCost cost() const;
    // True while sizes are being asked for.
    bool sizing() const { return probe_.busy(); }
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
    void connectProbe();
    // Shows the key's state as the disk has it.
    void validate(const QString& key);
    void showKey(const QString& key, const KeyStatus& status);
    bool handSet(const QString& key) const;
    QStringList filesToFetch() const;
    qint64 keySize(const QString& key) const;
    void showCost();
    // Applies the key's box to the disk: removes or discards the files of an
    // unticked key, links or queues the missing files of a ticked one.
    void process(const QString& key);
    void fetch(const QString& fileName);
    void remove(const QString& fileName);
    QStringList allKeys() const;

    void setStatus(const QString& text);
    void setTransferring(bool transferring);
    void showQueue(qint64 value, qint64 maximum);
    void showFile(qint64 value, qint64 maximum);
    void onFileStarted(const QString& fileName);
    void onFileResponded(qint64 length);
    void showTransfer(qint64 received, bool force = false);
    void onFileFailed(const QString& fileName, const QString& description);

    IndexManagerView& view_;
    IndexFolder folder_;
    DistributionIndexes distribution_;
    IndexDownloadQueue queue_;
    IndexSizeProbe probe_;
    QHash<QString, CheckState> shown_;  // the state last put on each key's box
    QString status_;
    QString fileStatus_;  // "Downloading N (L bytes)", before retry notes
    QueueProgress progress_;
    qint64 queueValue_ = 0;
    qint64 queueMaximum_ = 0;
    qint64 fileValue_ = 0;
    qint64 fileMaximum_ = 0;
    bool transferring_ = false;
};

}  // namespace siderama
