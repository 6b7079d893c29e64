#include "remote/api/ApiKeys.h"

#include "core/Constants.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QSaveFile>
#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include <sys/stat.h>

namespace siderama {

namespace {

QByteArray randomHex(int bytes) {
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(data.begin(), data.end());
    return data.toHex();
}

QByteArray hashOf(const QString& key) {
    return QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex();
}

// Equal texts, compared in a time that does not tell where they differ.
bool sameText(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size()) return false;
    int difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i) difference |= a[i] ^ b[i];
    return difference == 0;
}

}  // namespace

ApiKeys::ApiKeys(QString path) : path(std::move(path)) {}

QString ApiKeys::defaultPath() { return FOLDER() + "/api-keys.json"; }

// The file is replaced whole at every change (a new inode), and its time
// has nanoseconds: together they tell a change.
QByteArray ApiKeys::fileState() const {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return {};
    return QByteArray::number(qulonglong(info.st_ino)) + ':' + QByteArray::number(qlonglong(info.st_mtim.tv_sec)) + ':' +
           QByteArray::number(qlonglong(info.st_mtim.tv_nsec)) + ':' + QByteArray::number(qlonglong(info.st_size));
}

void ApiKeys::reload() const {
    const QByteArray state = fileState();
    if (state == loaded) return;
    loaded = state;
    entries.clear();
    secret.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return;
    const nlohmann::json stored = nlohmann::json::parse(file.readAll().toStdString(), nullptr, false);
    if (!stored.is_object()) return;
    secret = QByteArray::fromStdString(stored.value("secret", ""));
    for (const auto& key : stored.value("keys", nlohmann::json::array()))
        if (key.is_object())
            entries.push_back({QString::fromStdString(key.value("name", "")), QByteArray::fromStdString(key.value("sha256", ""))});
}

void ApiKeys::save() {
    nlohmann::json keys = nlohmann::json::array();
    for (const Entry& entry : entries) keys.push_back({{"name", entry.name.toStdString()}, {"sha256", entry.hash.toStdString()}});
    const QByteArray text = QByteArray::fromStdString(nlohmann::json{{"secret", secret.toStdString()}, {"keys", keys}}.dump(2));
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
        file.write(text) != text.size() || !file.commit())
        throw std::runtime_error("cannot write " + path.toStdString() + ": " + file.errorString().toStdString());
    loaded = fileState();
}

QString ApiKeys::add(const QString& name) {
    std::lock_guard guard(lock);
    reload();
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) throw std::runtime_error("a key needs a name");
    for (const Entry& entry : entries)
        if (entry.name == trimmed) throw std::runtime_error("a key named " + trimmed.toStdString() + " exists already");
    if (secret.isEmpty()) secret = randomHex(32);
    const QString key = QString::fromLatin1(randomHex(20));
    entries.push_back({trimmed, hashOf(key)});
    save();
    return key;
}

void ApiKeys::remove(const QString& name) {
    std::lock_guard guard(lock);
    reload();
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == name; });
    if (found == entries.end()) throw std::runtime_error("no key named " + name.toStdString());
    entries.erase(found);
    save();
}

std::vector<ApiKeys::Account> ApiKeys::accounts() const {
    std::lock_guard guard(lock);
    reload();
    std::vector<Account> all;
    for (const Entry& entry : entries) all.push_back({entry.name, all.empty()});
    return all;
}

bool ApiKeys::required() const {
    std::lock_guard guard(lock);
    reload();
    return !entries.empty();
}

std::optional<ApiKeys::Account> ApiKeys::account(const QString& key) const {
    std::lock_guard guard(lock);
    reload();
    const QByteArray hash = hashOf(key);
    for (size_t i = 0; i < entries.size(); ++i)
        if (sameText(entries[i].hash, hash)) return Account{entries[i].name, i == 0};
    return std::nullopt;
}

QByteArray ApiKeys::signature(const Entry& entry) const {
    return QMessageAuthenticationCode::hash(entry.name.toUtf8() + ':' + entry.hash, secret, QCryptographicHash::Sha256)
        .toHex();
}

// "NAME-IN-BASE64URL.SIGNATURE", the signature over the name and its key's
// hash: the same session at every login (so that jobs stay their owner's),
// and none left once the key is removed or replaced.
QString ApiKeys::session(const Account& account) const {
    std::lock_guard guard(lock);
    reload();
    for (const Entry& entry : entries)
        if (entry.name == account.name)
            return QString::fromLatin1(entry.name.toUtf8().toBase64(QByteArray::Base64UrlEncoding |
                                                                    QByteArray::OmitTrailingEquals) +
                                       "." + signature(entry));
    return {};
}

std::optional<ApiKeys::Account> ApiKeys::sessionAccount(const QString& session) const {
    const QStringList parts = session.split('.');
    if (parts.size() != 2) return std::nullopt;
    const QString name = QString::fromUtf8(QByteArray::fromBase64(parts[0].toLatin1(), QByteArray::Base64UrlEncoding));
    std::lock_guard guard(lock);
    reload();
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].name == name && sameText(signature(entries[i]), parts[1].toLatin1())) return Account{name, i == 0};
    return std::nullopt;
}

}  // namespace siderama
