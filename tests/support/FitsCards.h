#pragma once

#include <QByteArray>
#include <QStringList>

namespace testsupport {
// A header card "NAME    = VALUE", the value written as FITS has it (42, T, 'RA---TAN') and ending in column 30.
inline QString fitsCard(const QString& name, const QString& value) { return name.leftJustified(8) + "= " + value.rightJustified(20); }
// "SIMPLE = T" and the cards (any text, "NAXIS1  = 800"), each padded to 80 bytes; no END.
inline QByteArray fitsCards(const QStringList& cards = {}) {
    QByteArray text;
    for (const QString& card : QStringList{fitsCard("SIMPLE", "T")} + cards) text += card.toLatin1().leftJustified(80, ' ');
    return text;
}
// fitsCards() and END, padded with spaces to whole 2880-byte blocks: a whole header.
inline QByteArray fitsHeader(const QStringList& cards = {}) {
    const QByteArray text = fitsCards(cards + QStringList{"END"});
    return text.leftJustified((text.size() + 2879) / 2880 * 2880, ' ');
}
// `size` bytes that start as a FITS file does (the SIMPLE card, cut at `size`), then `fill`.
inline QByteArray fitsBytes(qint64 size, char fill = ' ') { return fitsCards().leftJustified(size, fill).left(size); }
}  // namespace testsupport
