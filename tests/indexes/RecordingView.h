#pragma once

#include "indexes/IndexManagerView.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QUrl>

// A view that records every call of the index manager, for the tests.
struct RecordingView : siderama::IndexManagerView {
    using Progress = QPair<qint64, qint64>;  // value, maximum

    QHash<QString, siderama::KeyStatus> statuses;
    QHash<QString, siderama::CheckState> states;
    QStringList statusTexts;
    QList<Progress> queueProgress;
    QList<Progress> fileProgress;
    QList<bool> transferring;
    QList<QUrl> opened;
    int presented = 0;

    void setKeyStatus(const QString& key, const siderama::KeyStatus& status) override {
        statuses[key] = status;
        states[key] = status.state;
    }
    siderama::CheckState keyState(const QString& key) const override {
        return states.value(key, siderama::CheckState::off);
    }
    void setStatusText(const QString& text) override { statusTexts << text; }
    void setQueueProgress(qint64 value, qint64 maximum) override { queueProgress << Progress(value, maximum); }
    void setFileProgress(qint64 value, qint64 maximum) override { fileProgress << Progress(value, maximum); }
    void setTransferring(bool value) override { transferring << value; }
    void present() override { ++presented; }
    void openLocation(const QUrl& location) override { opened << location; }

    QString lastStatus() const { return statusTexts.isEmpty() ? QString() : statusTexts.last(); }
};
