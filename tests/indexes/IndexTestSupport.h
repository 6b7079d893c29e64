#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private index directory and an empty distribution directory per test.
class IndexTestDirectories {
public:
    IndexTestDirectories();

    QString folder() const { return root_.path() + "/Siderama"; }
    QString distribution() const { return root_.path() + "/distribution"; }

    // Every entry of the index directory, hidden ones included.
    QStringList entries() const;
    void write(const QString& fileName, const QByteArray& content) const;
    QByteArray read(const QString& fileName) const;
    void writeDistribution(const QString& fileName, const QByteArray& content) const;

private:
    QTemporaryDir root_;
};

// Files in the XDG Trash of the test's home.
QStringList trashedFiles();
