#pragma once

#include "solver/FileIdentity.h"

#include <QHash>
#include <QString>

namespace siderama {

struct QueueEntry;

// The results of a watched folder: `siderama-results.csv` for people and
// `siderama-results.jsonl` for programs (the fields of `--solve --json`,
// plus the identity of the frame as it was when its solve ended), one line
// per frame, appended as frames finish. Read again at start, so frames
// recorded before a restart are not solved again while they are unchanged.
class WatchResults {
public:
    explicit WatchResults(QString folder);

    // Whether this version of the file has a record, solved or failed.
    bool isRecorded(const QString& path, const FileIdentity& identity) const;
    // Appends the finished entry's lines, for the version of its file that
    // was solved; "" or what could not be written.
    QString record(const QueueEntry& entry, const FileIdentity& identity);

    QString csvPath() const { return folder + "/" + csvName; }
    QString jsonPath() const { return folder + "/" + jsonName; }

    static constexpr const char* csvName = "siderama-results.csv";
    static constexpr const char* jsonName = "siderama-results.jsonl";

private:
    void load();

    QString folder;
    QHash<QString, FileIdentity> recorded;  // by absolute path
};

}  // namespace siderama
