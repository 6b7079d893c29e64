#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <optional>

namespace siderama {

// The user defaults (organisation and application "Siderama"). QSettings
// objects are not shared between threads, so every call opens its own.
namespace Defaults {

inline constexpr const char* removeCreatedFiles = "removeCreatedFiles";
inline constexpr const char* writeWCSHeaders = "writeWCSHeaders";
inline constexpr const char* solveFieldArgs = "solve-field-args";
inline constexpr const char* maxImageMegapixels = "max-image-megapixels";
inline constexpr const char* uploadAreaLimitMB = "upload-area-limit-mb";

bool boolValue(const QString& key);  // an absent key reads as false
void setBool(const QString& key, bool value);
std::optional<QString> stringValue(const QString& key);
// The stored whole number, or `fallback` when absent or not a number.
qint64 integerValue(const QString& key, qint64 fallback);
void setString(const QString& key, const QString& value);
// The words of the string under `key`, split at spaces; none when absent.
QStringList words(const QString& key);

}  // namespace Defaults
}  // namespace siderama
