#include "remote/ClientText.h"

#include <QList>

namespace siderama {

namespace {

bool isShownRaw(char32_t c) {
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f)) return false;
    if (c == 0x061c || c == 0x200e || c == 0x200f || c == 0x2028 || c == 0x2029) return false;
    return !(c >= 0x202a && c <= 0x202e) && !(c >= 0x2066 && c <= 0x2069);
}

}  // namespace

QString ClientText::forLog(const QString& text) {
    QString shown;
    for (const char32_t c : text.toUcs4()) {
        if (isShownRaw(c)) shown += QString::fromUcs4(&c, 1);
        else shown += QString("\\u{%1}").arg(uint(c), 4, 16, QChar('0'));
    }
    return shown;
}

}  // namespace siderama
