#pragma once

#include <optional>
#include <string>

namespace bench {

struct WrkResult {
    double requestsPerSecond = 0;
    double p99Milliseconds = 0;
    std::string errors;  // wrk's "Socket errors" / "Non-2xx" lines, empty when none
};

// Runs `wrk --latency` against `url` and reads its report; nothing when wrk
// is missing or its report cannot be read. Without keep-alive every request
// comes on a new connection (for https: a new handshake).
std::optional<WrkResult> runWrk(const std::string& url, int threads, int connections, double seconds,
                                bool keepAlive = true);

// Parses a report of `wrk --latency`.
std::optional<WrkResult> parseWrkReport(const std::string& report);

}  // namespace bench
