#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace bench {

struct LoadResult {
    std::size_t requests = 0;
    std::size_t failures = 0;  // connections that broke and had to be reopened
    double seconds = 0;
    double p99Milliseconds = 0;

    double requestsPerSecond() const { return seconds > 0 ? requests / seconds : 0; }
};

// Drives an HTTP server on 127.0.0.1 with blocking keep-alive clients, one
// thread per connection, each sending the same request and reading the whole
// answer before the next one. A connection the server closes is reopened.
class LoadDriver {
public:
    LoadDriver(int port, std::string request) : port_(port), request_(std::move(request)) {}

    LoadResult run(std::size_t connections, std::chrono::milliseconds duration) const;

    // Sends one request with a body of `size` bytes (sent from a reused
    // buffer) and returns the seconds until the answer arrived, or a negative
    // number on failure.
    double upload(const std::string& head, std::size_t size) const;

private:
    struct ClientStats;
    void client(std::chrono::steady_clock::time_point until, ClientStats& stats) const;

    int port_;
    std::string request_;
};

// Opens a loopback TCP connection; -1 on failure.
int connectLoopback(int port);

}  // namespace bench
