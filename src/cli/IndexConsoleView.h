#pragma once

#include "indexes/IndexManagerView.h"

#include <QHash>
#include <QStringList>

#include <cstdio>

namespace siderama {

// The index manager on a terminal: present() prints the keys with their
// state on `output`; status lines and a progress bar with bytes, rate and
// time left go to `progress` (the bar only when that is a terminal). Key states are chosen by choose()
// instead of clicks.
class IndexConsoleView : public IndexManagerView {
public:
    explicit IndexConsoleView(std::FILE* output = stdout, std::FILE* progress = stderr);

    void choose(const QString& key, CheckState state);
    KeyStatus status(const QString& key) const { return statuses_.value(key); }

    void setKeyStatus(const QString& key, const KeyStatus& status) override;
    CheckState keyState(const QString& key) const override;
    void setStatusText(const QString& text) override;
    void setQueueProgress(qint64 value, qint64 maximum) override;
    void setFileProgress(qint64 value, qint64 maximum) override;
    void setTransferring(bool transferring) override;
    void setTransferProgress(const TransferProgress& progress) override;
    void present() override;
    void openLocation(const QUrl& location) override;

    // One listing line: "[x] index-4119.fits  1/1 files".
    static QString describe(const QString& key, const KeyStatus& status);

private:
    void drawBar(const TransferProgress& progress);
    void endBar();

    std::FILE* output_;
    std::FILE* progress_;
    bool terminal_;
    QStringList keys_;
    QHash<QString, KeyStatus> statuses_;
    QHash<QString, CheckState> chosen_;
    QString queueText_;
    bool barShown_ = false;
    bool transferring_ = false;
};

}  // namespace siderama
