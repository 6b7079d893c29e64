#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>

namespace siderama {

// What the server said about the file a partial transfer belongs to: its
// validators and its whole length. A resumed transfer is continued only
// when the server still describes the file the same way.
struct RemoteFileIdentity {
    QByteArray etag;
    QByteArray lastModified;
    qint64 length = -1;

    bool hasValidator() const { return !etag.isEmpty() || !lastModified.isEmpty(); }
    // The If-Range value: the ETag when it is strong, else Last-Modified.
    QByteArray ifRange() const;
    // Same file: same length and the same validators where both have one.
    bool sameFileAs(const RemoteFileIdentity& other) const;
};

// The hidden temporary file ".NAME.part" beside an index file's save
// location, with the identity of its remote file in ".NAME.part.id". It
// survives failures, aborts and quits so that the next transfer continues
// it; commit() renames it into place once it is whole.
class PartialFile {
public:
    explicit PartialFile(QString destination);
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    static QString partPath(const QString& destination);
    static QString identityPath(const QString& destination);

    // Opens the file for appending; false (with error()) when it cannot be.
    bool open();
    // Bytes already held that a transfer may continue: none unless the
    // remote file they belong to has a validator.
    qint64 size() const;
    std::optional<RemoteFileIdentity> identity() const { return identity_; }

    // Starts again from nothing for the given remote file.
    bool restart(const RemoteFileIdentity& identity);
    // Drops the bytes held and their identity: the next transfer starts over.
    void clear();
    // Appends; false on a write failure (diskFull() tells whether space ran out).
    bool append(const QByteArray& data);
    bool diskFull() const { return diskFull_; }
    QString error() const { return error_; }

    // Checks the length and the FITS start, then renames the file over the
    // destination. Empty on success, else the problem (the file stays).
    QString commit(qint64 expectedLength);
    // Deletes the partial file and its identity.
    void discard();
    // Deletes what a transfer left for `destination`.
    static void discard(const QString& destination);

private:
    bool saveIdentity();
    void loadIdentity();

    QString destination_;
    QFile file_;
    std::optional<RemoteFileIdentity> identity_;
    QString error_;
    bool diskFull_ = false;
};

}  // namespace siderama
