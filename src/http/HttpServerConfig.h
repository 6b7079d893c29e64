#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "http/HttpParser.h"

namespace http {

// Settings read when the server starts.
struct HttpServerConfig {
    std::string bindAddress = "0.0.0.0";  // numeric IPv4
    int listenBacklog = 128;
    HttpLimits limits{.headTimeout = std::chrono::milliseconds(10000), .minBodyRate = 16 * 1024};
    // The largest body of a route that does not stream its bodies (see
    // HttpServer::streamBodies): such a body is held in memory, and a larger
    // one is refused with 413 (on its head when its length is announced).
    std::uint64_t maxBufferedBody = std::uint64_t{1} << 30;
    // Longest wait for the next bytes from (or room to write to) a client.
    std::chrono::milliseconds idleTimeout{30000};
    // Longest time an encrypted connection's handshake may take, and once
    // half the places are taken, so that silent sockets cannot hold them.
    std::chrono::milliseconds handshakeTimeout{10000};
    std::chrono::milliseconds pressedHandshakeTimeout{2000};
    // Clients beyond this many (on all listeners together) are answered 503
    // and closed; encrypted ones are closed at once.
    std::size_t maxConnections = 256;
    // Connections from one address beyond this many are answered 503 and
    // closed, so that one client cannot take every place.
    std::size_t maxConnectionsPerClient = 64;
    // Of the maxConnections places, these are kept for addresses that hold
    // none, so that a few addresses cannot lock everybody out.
    std::size_t placesForNewAddresses = 32;
    // Pause after a failed accept (e.g. out of descriptors) before retrying.
    std::chrono::milliseconds acceptRetryDelay{50};
    // How long a refused request's remaining bytes are drained before closing.
    std::chrono::milliseconds drainTime{500};
    // Niceness added to each connection thread (0 keeps the process's), so
    // a flood of requests cannot take the processor from heavier work.
    int connectionNiceness = 0;
    // Receives the server's log lines: a handler that threw, a response
    // that could not be sent. Called from connection threads.
    std::function<void(const std::string& line)> logger = printLine;

    // The default logger: the line on standard output.
    static void printLine(const std::string& line);
};

}  // namespace http
