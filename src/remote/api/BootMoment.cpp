#include "remote/api/BootMoment.h"

#include <QFile>
#include <QStringList>

#include <ctime>

namespace siderama {

namespace {

QString bootId() {
    QFile file("/proc/sys/kernel/random/boot_id");
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).trimmed() : QString();
}

}  // namespace

BootMoment BootMoment::now() {
    static const QString boot = bootId();
    timespec clock{};
    ::clock_gettime(CLOCK_BOOTTIME, &clock);
    return {boot, double(clock.tv_sec) + double(clock.tv_nsec) / 1e9};
}

std::optional<BootMoment> BootMoment::fromText(const QString& text) {
    const QStringList words = text.split(' ');
    bool number = false;
    const double seconds = words.size() == 2 ? words[1].toDouble(&number) : 0;
    if (!number || words[0].isEmpty()) return std::nullopt;
    return BootMoment(words[0], seconds);
}

QString BootMoment::text() const { return boot + " " + QString::number(seconds, 'f', 3); }

std::optional<double> BootMoment::secondsUntil(const BootMoment& later) const {
    if (boot.isEmpty() || boot != later.boot) return std::nullopt;
    return later.seconds - seconds;
}

}  // namespace siderama
