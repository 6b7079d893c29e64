#pragma once

#include <QByteArray>
#include <QStringList>

namespace testsupport {
// A header card "NAME    = VALUE", the value written as FITS has it (42, T, 'RA---TAN') and ending in column 30.
QString fitsCard(const QString& name, const QString& value);
// "SIMPLE = T" and the cards (any text, "NAXIS1  = 800"), each padded to 80 bytes; no END.
QByteArray fitsCards(const QStringList& cards = {});
// fitsCards() and END, padded with spaces to whole 2880-byte blocks: a whole header.
QByteArray fitsHeader(const QStringList& cards = {});
// `size` bytes that start as a FITS file does (the SIMPLE card, cut at `size`), then `fill`.
QByteArray fitsBytes(qint64 size, char fill = ' ');
}  // namespace testsupport
