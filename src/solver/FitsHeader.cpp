#include "solver/FitsHeader.h"

#include <QFile>

namespace siderama {

namespace {

constexpr qsizetype cardSize = 80;
constexpr qsizetype blockSize = 2880;
constexpr int maxHeaderBlocks = 100;

// The value part of a card: a quoted string or the text before a comment.
QString cardValue(const QByteArray& card) {
    const QByteArray rest = card.mid(10).trimmed();
    if (rest.startsWith('\'')) {
        QByteArray text;
        for (qsizetype i = 1; i < rest.size(); ++i) {
            if (rest[i] != '\'') text += rest[i];
            else if (i + 1 < rest.size() && rest[i + 1] == '\'') text += rest[++i];
            else break;
        }
        return QString::fromLatin1(text).trimmed();
    }
    const qsizetype slash = rest.indexOf('/');
    return QString::fromLatin1(slash < 0 ? rest : rest.left(slash)).trimmed();
}

}  // namespace

FitsHeader FitsHeader::read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray cards;
    for (int block = 0; block < maxHeaderBlocks; ++block) {
        const QByteArray data = file.read(blockSize);
        if (data.size() != blockSize) return {};
        cards += data;
        for (qsizetype at = cards.size() - blockSize; at < cards.size(); at += cardSize)
            if (cards.mid(at, 8) == "END     ") return fromCards(cards.left(at));
    }
    return {};
}

FitsHeader FitsHeader::fromCards(const QByteArray& cards) {
    FitsHeader header;
    if (!cards.startsWith("SIMPLE  =")) return header;
    for (qsizetype at = 0; at + cardSize <= cards.size(); at += cardSize) {
        const QByteArray card = cards.mid(at, cardSize);
        if (card.mid(8, 2) != "= ") continue;
        header.values.insert(QString::fromLatin1(card.left(8)).trimmed(), cardValue(card));
    }
    return header;
}

std::optional<QString> FitsHeader::text(const QString& keyword) const {
    const auto found = values.constFind(keyword);
    if (found == values.constEnd() || found->isEmpty()) return std::nullopt;
    return *found;
}

std::optional<double> FitsHeader::number(const QString& keyword) const {
    const std::optional<QString> value = text(keyword);
    if (!value) return std::nullopt;
    bool ok = false;
    QString normal = *value;
    const double result = normal.replace('D', 'E').toDouble(&ok);
    if (!ok) return std::nullopt;
    return result;
}

std::optional<double> FitsHeader::firstNumber(std::initializer_list<const char*> keywords) const {
    for (const char* keyword : keywords)
        if (const auto value = number(keyword)) return value;
    return std::nullopt;
}

}  // namespace siderama
