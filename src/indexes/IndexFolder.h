#pragma once

#include <QString>
#include <QStringList>

namespace siderama {

// The index directory: where each catalogue file N lives as folder + "/" + N.
class IndexFolder {
public:
    explicit IndexFolder(QString path);

    const QString& path() const { return path_; }
    QString pathOf(const QString& fileName) const;

    // A file counts as present when its name resolves to a file (a link to a
    // vanished file does not).
    bool has(const QString& fileName) const;
    int presentCount(const QStringList& fileNames) const;
    // Present files over the whole catalogue.
    int installedCount() const;

    bool exists() const;
    bool create() const;

    // Links `source` in under `fileName`, replacing a stale entry.
    bool link(const QString& source, const QString& fileName) const;
    // Moves the file to the Trash (a link is just removed); false on failure.
    bool trash(const QString& fileName) const;

private:
    QString path_;
};

}  // namespace siderama
