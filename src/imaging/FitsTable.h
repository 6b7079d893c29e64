#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace siderama {

// Reads whole numeric columns of the first table in a FITS file (the star
// lists of the plate-solving tools: .xy, .axy, .corr). Returns one vector
// per requested column, in the order asked; none (and the reason in `error`)
// when the file, the table or a column is missing.
std::optional<std::vector<std::vector<double>>> readFitsColumns(const QString& path, const QStringList& columns,
                                                                QString* error = nullptr);
// An integer keyword of that table (IMAGEW, IMAGEH of a star list); 0 when
// the file, the table or the keyword is missing.
long readFitsTableKey(const QString& path, const QString& key);
// Writes a new FITS file whose first table holds `columns` (doubles, one
// vector per name, all of one length) and the integer keywords `keys`.
// False on any failure.
bool writeFitsTable(const QString& path, const QStringList& names, const std::vector<std::vector<double>>& columns,
                    const std::vector<std::pair<QString, long>>& keys);

}  // namespace siderama
