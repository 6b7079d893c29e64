#include "solver/SolveFieldOptions.h"

#include "solver/ToolCommand.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QMap>
#include <chrono>
#include <QSettings>
#include <mutex>

namespace siderama {

namespace {

// A probe that takes longer is ended and its options count as unknown.
constexpr auto probeTimeLimit = std::chrono::seconds(5);

QString helpText(const QString& program) {
    return ToolCommand::output(program, {"--help"}, probeTimeLimit).value_or(QString());
}

bool mentions(const QString& help, const QString& option) {
    // The option as a word of its own, not as the start of a longer one.
    for (qsizetype at = help.indexOf(option); at >= 0; at = help.indexOf(option, at + 1)) {
        const qsizetype end = at + option.size();
        if (end == help.size() || !(help[end].isLetterOrNumber() || help[end] == '-')) return true;
    }
    return false;
}

// The answer for one binary stays valid while the file is unchanged: kept
// in the user defaults under the path, its size and modification time.
QString cacheKey(const QString& program, const QString& option) {
    const QFileInfo info(QFileInfo(program).canonicalFilePath());
    const QByteArray identity = (info.filePath() + '|' + QString::number(info.size()) + '|' +
                                 QString::number(info.lastModified().toMSecsSinceEpoch()) + '|' + option)
                                    .toUtf8();
    return "tool-options/" + QCryptographicHash::hash(identity, QCryptographicHash::Sha1).toHex();
}

}  // namespace

bool solveFieldSupports(const QString& program, const QString& option) {
    static std::mutex lock;
    static QMap<QString, bool> answers;
    std::lock_guard guard(lock);
    const QString key = cacheKey(program, option);
    if (const auto known = answers.constFind(key); known != answers.constEnd()) return *known;
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Siderama", "Siderama");
    QVariant stored = settings.value(key);
    if (!stored.isValid()) {
        stored = mentions(helpText(program), option);
        settings.setValue(key, stored);
    }
    answers.insert(key, stored.toBool());
    return stored.toBool();
}

}  // namespace siderama
