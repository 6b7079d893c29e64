#include "support/FitsCards.h"

namespace testsupport {
namespace {
constexpr qsizetype cardSize = 80, blockSize = 2880;
}

QString fitsCard(const QString& name, const QString& value) { return name.leftJustified(8) + "= " + value.rightJustified(20); }

QByteArray fitsCards(const QStringList& cards) {
    QByteArray text;
    for (const QString& card : QStringList{fitsCard("SIMPLE", "T")} + cards) text += card.toLatin1().leftJustified(cardSize, ' ');
    return text;
}

QByteArray fitsHeader(const QStringList& cards) {
    const QByteArray text = fitsCards(cards + QStringList{"END"});
    return text.leftJustified((text.size() + blockSize - 1) / blockSize * blockSize, ' ');
}

QByteArray fitsBytes(qint64 size, char fill) { return fitsCards().leftJustified(size, fill).left(size); }
}  // namespace testsupport
