#pragma once

#include <QStringList>

namespace siderama {

class ApiArguments;

// The solve-field options for an API job's hints: scale, position, parity,
// downsampling, tweak order and the source extraction switches.
// A centre without a radius gets `defaultRadius` degrees.
QStringList solveHintOptions(const ApiArguments& hints, double defaultRadius);

}  // namespace siderama
