#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace siderama {

// Reads whole numeric columns of the first table in a FITS file (the star
// lists of the plate-solving tools: .xy, .axy, .corr). Returns one vector
// per requested column, in the order asked; none (and the reason in `error`)
// when the file, the table or a column is missing.
std::optional<std::vector<std::vector<double>>> readFitsColumns(const QString& path, const QStringList& columns,
                                                                QString* error = nullptr);

}  // namespace siderama
