#pragma once

#include <QString>

namespace siderama {

// Log line colours. `plain` is the log's default text colour.
enum class LogColor { plain, green, yellow, red };

inline constexpr LogColor GREEN = LogColor::green;
inline constexpr LogColor YELLOW = LogColor::yellow;
inline constexpr LogColor RED = LogColor::red;

// The index directory: the per-user data directory followed by "/Siderama".
// Computed once, on first use, from the XDG variables.
const QString& FOLDER();

// The solver configuration file passed to solve-field.
const QString& CONFIG();

// Directory holding the plate-solving tools: $SIDERAMA_TOOLS_DIR when set,
// otherwise libexec/siderama beside the executable's bin directory.
QString toolsDirectory();

// Directory of the running executable.
QString executableDirectory();

}  // namespace siderama
