#pragma once

#include "solver/SolveOptions.h"

#include <QStringList>

namespace siderama {

class ApiArguments;

// An API job's hints as solve options: the scale (focalmm becomes the width
// a 36 mm frame sees), the position (a centre without a radius gets
// `defaultRadius` degrees) and the downsampling; parity, tweak order and the
// source extraction switches become extra solve-field words. Numbers beyond
// what the tools handle are clamped into their range, each clamp told in
// `notes`; a value that is not finite or a scale range upside down throws
// JobFailure.
SolveOptions solveHintOptions(const ApiArguments& hints, double defaultRadius, QStringList* notes = nullptr);

// The same options as the words of a single solve-field run; without a
// scale, 0.1 to 180 degwidth.
QStringList solveFieldHintWords(const SolveOptions& options);

}  // namespace siderama
