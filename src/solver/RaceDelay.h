#pragma once

#include <chrono>

namespace siderama {

// How long the first strategy of a race runs alone before the next joins:
// a little longer than it took on most of the fields it solved alone
// (1.5 times the upper quartile of the last 16, kept in the user defaults),
// between half a second and four seconds. Easy fields then cost one
// strategy's work, hard ones at most this delay more than a full race.
class RaceDelay {
public:
    static std::chrono::milliseconds current();
    // A field the first strategy solved, in `seconds`.
    static void learn(double seconds);

    static constexpr double unlearned = 2;  // seconds, before three fields are known
};

}  // namespace siderama
