#include "remote/api/ApiSettings.h"

#include "core/Defaults.h"

namespace siderama {

namespace {

// A stored positive number, else `fallback`.
double positive(const char* key, double fallback) {
    bool ok = false;
    const double value = Defaults::stringValue(key).value_or(QString()).toDouble(&ok);
    return ok && value > 0 ? value : fallback;
}

}  // namespace

ApiSettings ApiSettings::load() {
    ApiSettings settings;
    bool counted = false;
    const int solves = Defaults::stringValue("api-concurrent-solves").value_or(QString()).toInt(&counted);
    if (counted && solves >= 0) settings.concurrentSolves = solves;
    settings.database = Defaults::stringValue("job-database").value_or(QString()).trimmed();
    settings.timeLimitSeconds = positive("api-time-limit", settings.timeLimitSeconds);
    settings.retentionDays = positive("api-retention-days", settings.retentionDays);
    settings.defaultRadius = positive("api-default-radius", settings.defaultRadius);
    settings.apiKey = Defaults::stringValue("api-key").value_or(QString()).trimmed();
    return settings;
}

}  // namespace siderama
