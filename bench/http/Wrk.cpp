#include "Wrk.h"

#include <cstdio>
#include <regex>

namespace bench {

namespace {

double milliseconds(double value, const std::string& unit) {
    if (unit == "us") return value / 1000;
    if (unit == "s") return value * 1000;
    if (unit == "m") return value * 60000;
    return value;
}

}  // namespace

std::optional<WrkResult> parseWrkReport(const std::string& report) {
    std::smatch rate, p99;
    if (!std::regex_search(report, rate, std::regex(R"(Requests/sec:\s*([\d.]+))"))) return std::nullopt;
    WrkResult result;
    result.requestsPerSecond = std::stod(rate[1]);
    if (std::regex_search(report, p99, std::regex(R"(\n\s*99%\s+([\d.]+)(us|ms|s|m)\b)")))
        result.p99Milliseconds = milliseconds(std::stod(p99[1]), p99[2]);
    const std::regex errorLine(R"((Socket errors:[^\n]*|Non-2xx[^\n]*))");
    for (auto it = std::sregex_iterator(report.begin(), report.end(), errorLine); it != std::sregex_iterator(); ++it)
        result.errors += (result.errors.empty() ? "" : "; ") + it->str();
    return result;
}

std::optional<WrkResult> runWrk(const std::string& url, int threads, int connections, double seconds,
                                bool keepAlive) {
    // The library keeps a connection open only when the request asks for it.
    const std::string connection = keepAlive ? "keep-alive" : "close";
    const std::string command = "wrk --latency -H 'Connection: " + connection + "' -t" + std::to_string(threads) +
                                " -c" + std::to_string(connections) +
                                " -d" + std::to_string(static_cast<int>(seconds + 0.5)) + "s '" + url + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string report;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) report.append(chunk, got);
    if (pclose(pipe) != 0) return std::nullopt;
    return parseWrkReport(report);
}

}  // namespace bench
