#pragma once

#include <QtGlobal>

namespace siderama {

// How hard an index download tries. The defaults suit a real server; the
// tests shorten the times.
struct DownloadPolicy {
    // Failed attempts in a row (connection reset, 5xx, stall) before the
    // transfer gives up; an attempt that received data resets the count.
    int attempts = 5;
    // Pause before the first retry, doubled for each further one.
    int firstRetryDelayMs = 1000;
    // A transfer that receives less than minimumRate bytes/s over a window
    // of stallWindowMs (waiting for the answer included) has stalled.
    int stallWindowMs = 30000;
    qint64 minimumRate = 1024;
    // Redirects followed, all to the same scheme.
    int maxRedirects = 5;
};

}  // namespace siderama
