#pragma once

#include <QHash>
#include <QString>
#include <optional>

namespace siderama {

// The keywords of a FITS file's primary header, read without CFITSIO: the
// 80-character cards up to END. Values are kept as written, without quotes
// and comments.
class FitsHeader {
public:
    // Empty when the file cannot be read or is not FITS.
    static FitsHeader read(const QString& path);
    static FitsHeader fromCards(const QByteArray& cards);

    bool isEmpty() const { return values.isEmpty(); }
    std::optional<QString> text(const QString& keyword) const;
    std::optional<double> number(const QString& keyword) const;
    // The first of `keywords` that holds a number.
    std::optional<double> firstNumber(std::initializer_list<const char*> keywords) const;

private:
    QHash<QString, QString> values;
};

}  // namespace siderama
