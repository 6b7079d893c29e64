#include "solver/WatchResults.h"

#include "solver/SolveQueue.h"
#include "solver/SolveSummary.h"

#include <QFile>
#include <QFileInfo>
#include <nlohmann/json.hpp>

namespace siderama {

namespace {

// Appends `line` as a line of its own: a line a crash cut short is ended
// first, so the new record stays readable.
bool appendLine(const QString& path, const QByteArray& header, const QByteArray& line) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) return false;
    QByteArray bytes;
    if (file.size() == 0) {
        bytes = header;
    } else {
        file.seek(file.size() - 1);
        if (file.read(1) != "\n") bytes = "\n";
    }
    bytes += line + "\n";
    return file.write(bytes) == bytes.size() && file.flush();
}

}  // namespace

WatchResults::WatchResults(QString folder) : folder(std::move(folder)) { load(); }

void WatchResults::load() {
    QFile file(jsonPath());
    if (!file.open(QIODevice::ReadOnly)) return;
    while (!file.atEnd()) {
        const nlohmann::json record = nlohmann::json::parse(file.readLine().toStdString(), nullptr, false);
        if (!record.is_object() || !record.contains("file") || !record.contains("bytes")) continue;
        const QString path = QFileInfo(QString::fromStdString(record.value("file", ""))).absoluteFilePath();
        recorded[path] = {record.value("bytes", qint64(0)), record.value("mtime_ns", qint64(0)),
                          record.value("inode", quint64(0))};
    }
}

bool WatchResults::isRecorded(const QString& path, const FileIdentity& identity) const {
    const auto found = recorded.constFind(QFileInfo(path).absoluteFilePath());
    return found != recorded.cend() && *found == identity;
}

QString WatchResults::record(const QueueEntry& entry, const FileIdentity& identity) {
    nlohmann::json json = nlohmann::json::parse(summaryJson(entry).toStdString());
    json.update({{"bytes", identity.size}, {"mtime_ns", identity.modifiedNs}, {"inode", identity.inode}});
    recorded[QFileInfo(entry.path).absoluteFilePath()] = identity;
    // The table's header and the entry's row, as the window exports them.
    const QList<QByteArray> table = summaryCsv({entry}).toUtf8().split('\n');
    const bool csv = appendLine(csvPath(), table[0] + "\n", table[1]);
    const bool lines = appendLine(jsonPath(), {}, QByteArray::fromStdString(json.dump()));
    return csv && lines ? QString() : "Cannot append to the results in " + folder;
}

}  // namespace siderama
