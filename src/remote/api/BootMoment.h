#pragma once

#include <QString>
#include <optional>

namespace siderama {

// A moment on the clock that runs since the machine started (CLOCK_BOOTTIME,
// suspend included), tagged with the boot it belongs to. Unlike the wall
// clock it never steps, so ages measured on it within one boot are true
// however the wall clock is set meanwhile.
class BootMoment {
public:
    static BootMoment now();
    // As text() wrote it; none for anything else.
    static std::optional<BootMoment> fromText(const QString& text);
    QString text() const;

    // Seconds from this moment to `later`; none when they lie in different boots.
    std::optional<double> secondsUntil(const BootMoment& later) const;

private:
    BootMoment(QString boot, double seconds) : boot(std::move(boot)), seconds(seconds) {}

    QString boot;  // the kernel's boot id
    double seconds;
};

}  // namespace siderama
