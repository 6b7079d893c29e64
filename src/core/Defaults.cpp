#include "core/Defaults.h"

namespace siderama::Defaults {

namespace {
template <typename Action>
auto withSettings(Action action) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Siderama", "Siderama");
    return action(settings);
}
}  // namespace

bool boolValue(const QString& key) {
    return withSettings([&](QSettings& s) { return s.value(key, false).toBool(); });
}

void setBool(const QString& key, bool value) {
    withSettings([&](QSettings& s) { s.setValue(key, value); });
}

std::optional<QString> stringValue(const QString& key) {
    return withSettings([&](QSettings& s) -> std::optional<QString> {
        const QVariant value = s.value(key);
        if (!value.isValid()) return std::nullopt;
        return value.toString();
    });
}

qint64 integerValue(const QString& key, qint64 fallback) {
    bool valid = false;
    const qint64 value = stringValue(key).value_or(QString()).toLongLong(&valid);
    return valid ? value : fallback;
}

void setString(const QString& key, const QString& value) {
    withSettings([&](QSettings& s) { s.setValue(key, value); });
}

QStringList words(const QString& key) {
    return stringValue(key).value_or(QString()).split(' ', Qt::SkipEmptyParts);
}

}  // namespace siderama::Defaults
