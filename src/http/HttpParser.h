#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
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
    // A body must arrive at this many bytes per second on average, after a
    // start of `bodyGrace` (0: no limit), so that a trickle cannot hold a
    // connection however long the body.
    std::uint64_t minBodyRate = 0;
    std::chrono::milliseconds bodyGrace{10000};
};

// Takes a streamed request body piece by piece, in order.
using BodySink = std::function<void(std::string_view)>;

// Reads HTTP/1.x requests from a connected socket, one per call, within
// bounds on line length, header count and body size.
class HttpParser {
public:
    explicit HttpParser(HttpLimits limits = {}) : limits_(limits) {}

    // Blocks until a whole request, body included, has arrived. Throws
    // HttpParserError or SocketError.
    HttpRequest readHttpRequest(Socket& socket) const;
    // The request line and the headers only.
    HttpRequest readHead(Socket& socket) const;
    // The body announced by the head: into request.body, or piece by piece
    // into `sink` when one is given.
    void readBody(Socket& socket, HttpRequest& request, const BodySink& sink = {}) const;

    // True when the "connection" header names the "keep-alive" option and
    // not "close".
    static bool supportsKeepAlive(const std::unordered_map<std::string, std::string>& headers);

private:
    std::string readLine(Socket& socket) const;
    std::unordered_map<std::string, std::string> readHeaders(Socket& socket) const;
    void readChunkedBody(Socket& socket, std::string& body, const BodySink& sink) const;
    void readPiece(Socket& socket, std::string& body, std::uint64_t size, const BodySink& sink) const;
    void extendBodyDeadline(Socket& socket, std::uint64_t size) const;

    HttpLimits limits_;
};

}  // namespace http
