#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "http/HttpRequest.h"

namespace http {

class Socket;

// Bounds on what one request may hold.
struct HttpLimits {
    std::size_t maxLineLength = 8 * 1024;  // request line and each header line
    std::size_t maxHeaderCount = 100;
    std::uint64_t maxBodySize = std::uint64_t{1} << 30;
    // Longest time from the start of waiting for a request until its header
    // block is complete (0: no limit), so that a client trickling bytes just
    // inside the socket's time-out cannot hold its connection forever.
    std::chrono::milliseconds headTimeout{0};
};

// Reads HTTP/1.x requests from a connected socket, one per call, within
// bounds on line length, header count and body size.
class HttpParser {
public:
    explicit HttpParser(HttpLimits limits = {}) : limits_(limits) {}

    // Blocks until a whole request, body included, has arrived. Throws
    // HttpParserError or SocketError.
    HttpRequest readHttpRequest(Socket& socket) const;

    // True when the "connection" header is exactly "keep-alive" (trimmed).
    static bool supportsKeepAlive(const std::unordered_map<std::string, std::string>& headers);

    // Decoded pairs of the query text after the first "?" (empty without one).
    static HttpRequest::Pairs extractUrlParams(const std::string& url);

private:
    std::string readLine(Socket& socket) const;
    std::unordered_map<std::string, std::string> readHeaders(Socket& socket) const;
    void readBody(Socket& socket, HttpRequest& request) const;
    void readChunkedBody(Socket& socket, std::string& body) const;

    HttpLimits limits_;
};

}  // namespace http
