#pragma once

#include <QString>

namespace siderama {

// Whether the installed solve-field knows an option, by its --help text.
// Newer releases dropped options that older front ends always passed.
// Asked once per program path and remembered.
bool solveFieldSupports(const QString& program, const QString& option);

}  // namespace siderama
