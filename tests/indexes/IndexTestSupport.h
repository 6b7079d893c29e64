#pragma once

// Shared by the index tests: a private index and distribution directory, a
// view that records every call of the index manager, download retries on the
// scale of a loopback test, and a manager fixture with them all.
#include "indexes/DownloadPolicy.h"
#include "indexes/IndexManagerDelegate.h"
#include "indexes/IndexManagerView.h"
#include "support/FakeIndexServer.h"
#include "support/FitsCards.h"
#include "support/TestSupport.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QHash>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

class IndexTestDirectories {
public:
    IndexTestDirectories() { QDir().mkpath(folder()), QDir().mkpath(distribution()); }
    QString folder() const { return root_.path() + "/Siderama"; }
    QString distribution() const { return root_.path() + "/distribution"; }
    // Every entry of the index directory, hidden ones included.
    QStringList entries() const {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    void write(const QString& name, const QByteArray& content) const { writeTo(folder() + "/" + name, content); }
    void writeDistribution(const QString& name, const QByteArray& content) const { writeTo(distribution() + "/" + name, content); }
    QByteArray read(const QString& name) const { return testsupport::readFile(folder() + "/" + name); }

private:
    static void writeTo(const QString& path, const QByteArray& content) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(content);
    }
    QTemporaryDir root_;
};

// Files in the XDG Trash of the test's home.
inline QStringList trashedFiles() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files").entryList(QDir::Files);
}

inline siderama::DownloadPolicy fastPolicy() {
    return {.attempts = 3, .firstRetryDelayMs = 10, .stallWindowMs = 400, .minimumRate = 1024, .maxRedirects = 5};
}

struct RecordingView : siderama::IndexManagerView {
    using Progress = QPair<qint64, qint64>;  // value, maximum

    QHash<QString, siderama::KeyStatus> statuses;
    QHash<QString, siderama::CheckState> states;
    QStringList statusTexts;
    QList<Progress> queueProgress, fileProgress;
    QList<siderama::TransferProgress> bytes;
    QList<bool> transferring;
    QList<QUrl> opened;
    int presented = 0;

    void setKeyStatus(const QString& key, const siderama::KeyStatus& status) override {
        statuses[key] = status;
        states[key] = status.state;
    }
    siderama::CheckState keyState(const QString& key) const override { return states.value(key, siderama::CheckState::off); }
    void setStatusText(const QString& text) override { statusTexts << text; }
    void setQueueProgress(qint64 value, qint64 maximum) override { queueProgress << Progress(value, maximum); }
    void setFileProgress(qint64 value, qint64 maximum) override { fileProgress << Progress(value, maximum); }
    void setTransferProgress(const siderama::TransferProgress& value) override { bytes << value; }
    void setTransferring(bool value) override { transferring << value; }
    void present() override { ++presented; }
    void openLocation(const QUrl& location) override { opened << location; }
    QString lastStatus() const { return statusTexts.value(statusTexts.size() - 1); }
};

// A manager with a recording view and the index server on loopback.
class ManagerFixture : public ::testing::Test {
protected:
    ManagerFixture() {
        server.exportLocations();
        qputenv("SIDERAMA_DISTRIBUTION_INDEX_DIR", dirs.distribution().toUtf8());
        EXPECT_TRUE(delegate.refresh());
    }
    bool applyAndWait() {
        delegate.go();
        return testsupport::waitUntil([this] { return !delegate.transferring(); });
    }
    IndexTestDirectories dirs;
    testsupport::FakeIndexServer server;
    RecordingView view;
    siderama::IndexManagerDelegate delegate{view, dirs.folder(), siderama::DistributionIndexes(dirs.distribution()), fastPolicy()};
};
