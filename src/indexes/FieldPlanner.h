#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace siderama {

// Which index files suit a field of view. An index suits a field when its
// skymark diameters (IndexKey::skymarks) overlap 10 % to 100 % of the field
// width. Each scale is taken from one series: the Tycho-2 series 4100 where
// it has the scale (skymarks of 22' and more: few, small files), the 2MASS
// series 4200 below that.
namespace FieldPlanner {

inline constexpr double smallestShare = 0.1;

// The catalogue keys for a field `degrees` wide, series 4100 first.
QStringList keysFor(double degrees);

// A typed field width in degrees: "2.5", "2.5°", "2.5deg", or arcminutes
// "150'", "150′", "150arcmin". Nothing for text that is not a width
// between 1 arcminute and 360°.
std::optional<double> parseWidth(const QString& text);

// "2.5°" or "40′" for showing a width.
QString describeWidth(double degrees);

}  // namespace FieldPlanner
}  // namespace siderama
