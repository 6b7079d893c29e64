#pragma once

#include <QString>

namespace siderama {

// Writes one line, prefixed with the local time, to standard error: the
// system log of this application (failures that are not shown in a window).
void systemLog(const QString& line);

}  // namespace siderama
