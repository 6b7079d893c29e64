#pragma once

#include "indexes/DownloadPolicy.h"

// Download retries and stall detection on the scale of a loopback test.
inline siderama::DownloadPolicy fastPolicy() {
    return {.attempts = 3, .firstRetryDelayMs = 10, .stallWindowMs = 400, .minimumRate = 1024, .maxRedirects = 5};
}
