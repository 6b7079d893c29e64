#pragma once

#include <QString>

namespace siderama {

// Writes one line, prefixed with the local time, to standard error: where
// the index manager reports failures that its window does not show.
void indexLog(const QString& line);

}  // namespace siderama
