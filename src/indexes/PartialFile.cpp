#include "indexes/PartialFile.h"

#include <QFileInfo>
#include <QSettings>

#include <cerrno>
#include <cstdio>

namespace siderama {

namespace {

// Every FITS file opens with this card.
const QByteArray fitsStart = "SIMPLE  =";

QString hiddenBeside(const QString& destination, const QString& suffix) {
    const QFileInfo target(destination);
    return target.absolutePath() + "/." + target.fileName() + suffix;
}

}  // namespace

QByteArray RemoteFileIdentity::ifRange() const {
    return etag.isEmpty() || etag.startsWith("W/") ? lastModified : etag;
}

bool RemoteFileIdentity::sameFileAs(const RemoteFileIdentity& other) const {
    if (length != other.length) return false;
    if (!etag.isEmpty() && !other.etag.isEmpty()) return etag == other.etag;
    if (!lastModified.isEmpty() && !other.lastModified.isEmpty()) return lastModified == other.lastModified;
    return false;
}

PartialFile::PartialFile(QString destination)
    : destination_(std::move(destination)), file_(partPath(destination_)) {
    loadIdentity();
}

PartialFile::~PartialFile() { file_.close(); }

QString PartialFile::partPath(const QString& destination) { return hiddenBeside(destination, ".part"); }

QString PartialFile::identityPath(const QString& destination) { return hiddenBeside(destination, ".part.id"); }

// Unbuffered, so that a failed write reports its own errno.
bool PartialFile::open() {
    if (file_.isOpen()) return true;
    if (file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) return true;
    error_ = "cannot write " + file_.fileName() + ": " + file_.errorString();
    return false;
}

qint64 PartialFile::size() const {
    return identity_ && identity_->hasValidator() ? QFileInfo(file_.fileName()).size() : 0;
}

bool PartialFile::restart(const RemoteFileIdentity& identity) {
    identity_ = identity;
    if (file_.size() > 0 && !file_.resize(0)) {
        error_ = "cannot truncate " + file_.fileName() + ": " + file_.errorString();
        return false;
    }
    return saveIdentity();
}

void PartialFile::clear() {
    identity_.reset();
    file_.resize(0);
    QFile::remove(identityPath(destination_));
}

bool PartialFile::append(const QByteArray& data) {
    errno = 0;
    if (file_.write(data) == data.size()) return true;
    diskFull_ = errno == ENOSPC || errno == EDQUOT;
    error_ = diskFull_ ? "disk full writing " + file_.fileName() : "cannot write " + file_.fileName() + ": " + file_.errorString();
    return false;
}

QString PartialFile::commit(qint64 expectedLength) {
    file_.close();
    QFile written(file_.fileName());
    if (written.size() != expectedLength)
        return QString("received %1 of %2 bytes").arg(written.size()).arg(expectedLength);
    if (!written.open(QIODevice::ReadOnly) || written.read(fitsStart.size()) != fitsStart) return "not a FITS file";
    written.close();
    written.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    // rename(2) replaces whatever stands at the destination, a link included,
    // without writing through it.
    if (std::rename(QFile::encodeName(written.fileName()).constData(), QFile::encodeName(destination_).constData()) != 0)
        return "cannot rename to " + destination_;
    QFile::remove(identityPath(destination_));
    identity_.reset();
    return {};
}

void PartialFile::discard() {
    file_.close();
    identity_.reset();
    discard(destination_);
}

void PartialFile::discard(const QString& destination) {
    QFile::remove(partPath(destination));
    QFile::remove(identityPath(destination));
}

bool PartialFile::saveIdentity() {
    const QString path = identityPath(destination_);
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue("etag", identity_->etag);
    settings.setValue("lastModified", identity_->lastModified);
    settings.setValue("length", identity_->length);
    settings.sync();
    if (settings.status() == QSettings::NoError) return true;
    error_ = "cannot write " + path;
    return false;
}

// Without a readable identity the bytes held cannot be trusted: size() is 0.
void PartialFile::loadIdentity() {
    const QString path = identityPath(destination_);
    if (!QFileInfo::exists(path)) return;
    const QSettings settings(path, QSettings::IniFormat);
    RemoteFileIdentity identity{settings.value("etag").toByteArray(), settings.value("lastModified").toByteArray(),
                                settings.value("length", -1).toLongLong()};
    if (identity.length > 0 && identity.hasValidator()) identity_ = identity;
}

}  // namespace siderama
