#pragma once

#include <QByteArray>
#include <QString>
#include <mutex>
#include <optional>
#include <vector>

namespace siderama {

// The API keys an operator hands out, one per member, kept in a file of the
// data folder readable by its owner only: each key's name and the SHA-256
// of the key (never the key itself); the first key added is the operator's.
// Keys are required as soon as one exists. A login gives the session of
// the key's account, signed with the file's secret: it outlives restarts
// and ends with its key. Thread-safe; reads the file again when
// another process (the key commands) changed it.
class ApiKeys {
public:
    struct Account {
        QString name;
        bool isOperator = false;
    };

    explicit ApiKeys(QString path);
    // FOLDER/api-keys.json
    static QString defaultPath();

    // A new random key for `name`; throws std::runtime_error when the name
    // is taken or empty, or the file cannot be written.
    QString add(const QString& name);
    // Throws std::runtime_error when there is no such name or the file
    // cannot be written.
    void remove(const QString& name);
    std::vector<Account> accounts() const;
    bool required() const;

    std::optional<Account> account(const QString& key) const;
    QString session(const Account& account) const;
    // The account a session was given to; none when it is forged or its key
    // was removed.
    std::optional<Account> sessionAccount(const QString& session) const;

private:
    struct Entry {
        QString name;
        QByteArray hash;  // hex SHA-256 of the key
    };
    QByteArray fileState() const;
    void reload() const;   // under `lock`
    void save();           // under `lock`; throws
    QByteArray signature(const Entry& entry) const;  // under `lock`

    QString path;
    mutable std::mutex lock;
    mutable QByteArray loaded;  // fileState() when last read
    mutable QByteArray secret;
    mutable std::vector<Entry> entries;  // the first is the operator's
};

}  // namespace siderama
