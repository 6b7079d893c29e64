#include "http/HttpParser.h"

#include <charconv>
#include <optional>

#include "http/HttpParserError.h"
#include "http/Socket.h"
#include "http/StringHelpers.h"

namespace http {

namespace {

using Kind = HttpParserError::Kind;
using Headers = std::unordered_map<std::string, std::string>;

// Digits only, in the given base; nothing on overflow or other text.
std::optional<std::uint64_t> parseUnsigned(std::string_view text, int base) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

bool hasValue(const Headers& headers, const std::string& name, std::string_view value) {
    const auto found = headers.find(name);
    return found != headers.end() && toLower(found->second) == value;
}

// Token characters of header names.
bool isToken(std::string_view text) {
    static constexpr std::string_view marks = "!#$%&'*+-.^_`|~";
    if (text.empty()) return false;
    for (const char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && marks.find(c) == std::string_view::npos) return false;
    return true;
}

bool hasControlByte(std::string_view text, bool tabAllowed) {
    for (const unsigned char c : text)
        if ((c < 0x20 && !(tabAllowed && c == '\t')) || c == 0x7f) return true;
    return false;
}

constexpr std::uint64_t sinkStep = 256 * 1024;

// Lets a client that waits for "100 Continue" send its body.
void sendContinueIfExpected(Socket& socket, const Headers& headers) {
    if (hasValue(headers, "expect", "100-continue")) socket.write("HTTP/1.1 100 Continue\r\n\r\n");
}

}  // namespace

HttpRequest HttpParser::readHttpRequest(Socket& socket) const {
    HttpRequest request = readHead(socket);
    readBody(socket, request);
    return request;
}

HttpRequest HttpParser::readHead(Socket& socket) const {
    if (limits_.headTimeout.count() > 0) socket.setDeadline(std::chrono::steady_clock::now() + limits_.headTimeout);
    const std::string line = readLine(socket);
    const auto tokens = split(line, ' ');
    if (tokens.size() < 3) throw HttpParserError(Kind::invalidStatusLine, line);
    if (tokens.size() > 3 || hasControlByte(line, false)) throw HttpParserError(Kind::invalidRequest, line);
    if (tokens[2] != "HTTP/1.1" && tokens[2] != "HTTP/1.0") throw HttpParserError(Kind::invalidRequest, tokens[2]);
    HttpRequest request;
    request.method = tokens[0];
    request.url = tokens[1];
    request.headers = readHeaders(socket);
    socket.setDeadline(std::nullopt);
    return request;
}

std::string HttpParser::readLine(Socket& socket) const {
    auto line = socket.readLine(limits_.maxLineLength);
    if (!line) throw HttpParserError(Kind::lineTooLong, "");
    return std::move(*line);
}

// Refuses what proxies may read differently: a name that is no token
// (whitespace before the colon, folded lines), control bytes in a value, a
// repeated Transfer-Encoding.
Headers HttpParser::readHeaders(Socket& socket) const {
    Headers headers;
    for (std::size_t count = 0;; ++count) {
        const std::string line = readLine(socket);
        if (line.empty()) return headers;
        if (count == limits_.maxHeaderCount) throw HttpParserError(Kind::tooManyHeaders, "");
        const std::size_t colon = line.find(':');
        const std::string_view rawName = std::string_view(line).substr(0, colon);
        if (colon == std::string::npos || !isToken(rawName)) throw HttpParserError(Kind::invalidRequest, line);
        const std::string_view rawValue = std::string_view(line).substr(colon + 1);
        if (hasControlByte(rawValue, true)) throw HttpParserError(Kind::invalidRequest, line);
        const std::string name = toLower(rawName);
        std::string value = trim(rawValue);
        const auto [entry, inserted] = headers.try_emplace(name, value);
        if (inserted) continue;
        if (name == "transfer-encoding") throw HttpParserError(Kind::unsupportedTransferEncoding, value);
        // Two differing lengths leave the body's end ambiguous.
        if (name == "content-length" && entry->second != value)
            throw HttpParserError(Kind::invalidContentLength, value);
        entry->second = std::move(value);
    }
}

void HttpParser::readBody(Socket& socket, HttpRequest& request, const BodySink& sink) const {
    const Headers& headers = request.headers;
    const auto length = headers.find("content-length");
    if (limits_.minBodyRate > 0) socket.setDeadline(std::chrono::steady_clock::now() + limits_.bodyGrace);
    if (headers.count("transfer-encoding")) {
        if (length != headers.end()) throw HttpParserError(Kind::invalidContentLength, "with transfer-encoding");
        if (!hasValue(headers, "transfer-encoding", "chunked"))
            throw HttpParserError(Kind::unsupportedTransferEncoding, headers.at("transfer-encoding"));
        sendContinueIfExpected(socket, headers);
        readChunkedBody(socket, request.body, sink);
    } else if (length != headers.end()) {
        const auto size = parseUnsigned(length->second, 10);
        if (!size) throw HttpParserError(Kind::invalidContentLength, length->second);
        if (*size > limits_.maxBodySize) throw HttpParserError(Kind::bodyTooLarge, length->second);
        if (*size > 0) sendContinueIfExpected(socket, headers);
        readPiece(socket, request.body, *size, sink);
    }
    socket.setDeadline(std::nullopt);
}

void HttpParser::readChunkedBody(Socket& socket, std::string& body, const BodySink& sink) const {
    for (std::uint64_t total = 0;;) {
        const std::string line = readLine(socket);
        const auto size = parseUnsigned(trim(line.substr(0, line.find(';'))), 16);
        if (!size) throw HttpParserError(Kind::invalidChunkedBody, line);
        if (*size == 0) break;
        if (*size > limits_.maxBodySize - total) throw HttpParserError(Kind::bodyTooLarge, line);
        total += *size;
        readPiece(socket, body, *size, sink);
        if (!readLine(socket).empty()) throw HttpParserError(Kind::invalidChunkedBody, "missing chunk end");
    }
    // Trailer fields are read and dropped.
    for (std::size_t count = 0; !readLine(socket).empty(); ++count)
        if (count == limits_.maxHeaderCount) throw HttpParserError(Kind::tooManyHeaders, "");
}

// `size` bytes into `body`, or through `sink` in steps of bounded size.
void HttpParser::readPiece(Socket& socket, std::string& body, std::uint64_t size, const BodySink& sink) const {
    extendBodyDeadline(socket, size);
    if (!sink) {
        socket.readExactly(body, static_cast<std::size_t>(size));
        return;
    }
    std::string step;
    for (std::uint64_t left = size; left > 0; left -= step.size()) {
        step.clear();
        socket.readExactly(step, static_cast<std::size_t>(std::min<std::uint64_t>(left, sinkStep)));
        sink(step);
    }
}

void HttpParser::extendBodyDeadline(Socket& socket, std::uint64_t size) const {
    if (limits_.minBodyRate == 0 || !socket.deadline()) return;
    const auto seconds = std::chrono::duration<double>(double(size) / double(limits_.minBodyRate));
    socket.setDeadline(*socket.deadline() + std::chrono::duration_cast<std::chrono::milliseconds>(seconds));
}

// Connection options are comma-separated tokens, letter case aside
// (RFC 9110): "Keep-Alive" and "keep-alive, Upgrade" ask for keep-alive,
// "keep-alive, close" does not.
bool HttpParser::supportsKeepAlive(const Headers& headers) {
    const auto found = headers.find("connection");
    if (found == headers.end()) return false;
    bool keepAlive = false;
    for (const std::string& option : split(toLower(found->second), ',')) {
        const std::string token = trim(option);
        if (token == "close") return false;
        keepAlive = keepAlive || token == "keep-alive";
    }
    return keepAlive;
}

}  // namespace http
