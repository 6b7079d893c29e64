#pragma once

#include <QString>

namespace siderama {

// Whether the installed solve-field knows an option, by its --help text.
// Newer releases dropped options that older front ends always passed.
// Asked once per binary (path, size and modification time) and remembered
// in the user defaults.
bool solveFieldSupports(const QString& program, const QString& option);

}  // namespace siderama
