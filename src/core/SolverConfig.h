#pragma once

#include <QByteArray>
#include <QString>

namespace siderama {

// The three-line configuration text handed to solve-field for an index folder.
QByteArray solverConfigText(const QString& folder);

// Creates `folder` (with parents) and writes the configuration file `config`
// atomically when it does not exist yet. An existing file is never touched.
// Returns true when the file exists afterwards; otherwise `reason` (when
// given) tells why not.
bool writeSolverConfigIfMissing(const QString& folder, const QString& config, QString* reason = nullptr);

}  // namespace siderama
