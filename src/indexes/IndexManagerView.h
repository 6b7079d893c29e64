#pragma once

#include "indexes/DownloadCost.h"
#include "indexes/TransferProgress.h"

#include <QString>
#include <QUrl>

namespace siderama {

class IndexManagerDelegate;

// State of one catalogue key's check box.
enum class CheckState { off = 0, on = 1, mixed = -1 };

// What the index directory holds of one key.
struct KeyStatus {
    CheckState state = CheckState::off;
    int present = 0;      // files in the index directory
    int total = 0;        // files of the key
    int linkable = 0;     // missing files the distribution installed
};

// The controls that IndexManagerDelegate drives: the Qt window, the
// terminal view and the tests' recording view. Every call comes from the
// main thread.
class IndexManagerView {
public:
    virtual ~IndexManagerView() = default;

    // Called by the delegate's constructor (and with nullptr by its
    // destructor), so that the view can send its user's actions.
    virtual void setDelegate(IndexManagerDelegate* delegate) { (void)delegate; }

    // The check box of a catalogue key.
    virtual void setKeyStatus(const QString& key, const KeyStatus& status) = 0;
    virtual CheckState keyState(const QString& key) const = 0;

    virtual void setStatusText(const QString& text) = 0;
    // Level indicators; a maximum of -1 means the length is unknown.
    virtual void setQueueProgress(qint64 value, qint64 maximum) = 0;
    virtual void setFileProgress(qint64 value, qint64 maximum) = 0;
    // Transferring: apply disabled, abort enabled; idle: the reverse.
    virtual void setTransferring(bool transferring) = 0;

    // The size of all of a key's files (-1 while one is not known).
    virtual void setKeySize(const QString& key, qint64 bytes) { (void)key, (void)bytes; }
    // What applying the ticks would download, whenever ticks or sizes change.
    virtual void setDownloadCost(const DownloadCost& cost) { (void)cost; }
    // Bytes, rate and time left while the queue runs.
    virtual void setTransferProgress(const TransferProgress& progress) { (void)progress; }

    // Brings the window to the front.
    virtual void present() = 0;
    // Opens a web page in the user's browser.
    virtual void openLocation(const QUrl& location) = 0;
};

}  // namespace siderama
