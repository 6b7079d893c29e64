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

std::string join(const std::vector<std::string>& pieces, std::size_t from, char separator) {
    std::string text;
    for (std::size_t i = from; i < pieces.size(); ++i) {
        if (i > from) text += separator;
        text += pieces[i];
    }
    return text;
}

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

// Lets a client that waits for "100 Continue" send its body.
void sendContinueIfExpected(Socket& socket, const Headers& headers) {
    if (hasValue(headers, "expect", "100-continue")) socket.write("HTTP/1.1 100 Continue\r\n\r\n");
}

}  // namespace

HttpRequest HttpParser::readHttpRequest(Socket& socket) const {
    if (limits_.headTimeout.count() > 0) socket.setDeadline(std::chrono::steady_clock::now() + limits_.headTimeout);
    const std::string line = readLine(socket);
    const auto tokens = split(line, ' ');
    if (tokens.size() < 3) throw HttpParserError(Kind::invalidStatusLine, line);
    HttpRequest request;
    request.method = tokens[0];
    request.url = tokens[1];
    request.queryParams = extractUrlParams(request.url);
    request.headers = readHeaders(socket);
    socket.setDeadline(std::nullopt);  // a body may take as long as it keeps arriving
    readBody(socket, request);
    return request;
}

std::string HttpParser::readLine(Socket& socket) const {
    auto line = socket.readLine(limits_.maxLineLength);
    if (!line) throw HttpParserError(Kind::lineTooLong, "");
    return std::move(*line);
}

Headers HttpParser::readHeaders(Socket& socket) const {
    Headers headers;
    for (std::size_t count = 0;; ++count) {
        const std::string line = readLine(socket);
        if (line.empty()) return headers;
        if (count == limits_.maxHeaderCount) throw HttpParserError(Kind::tooManyHeaders, "");
        const auto pieces = split(line, ':');
        if (pieces.size() < 2) continue;
        const std::string name = toLower(pieces[0]);
        std::string value = trim(join(pieces, 1, ':'));
        const auto [entry, inserted] = headers.try_emplace(name, value);
        if (inserted) continue;
        // Two differing lengths leave the body's end ambiguous.
        if (name == "content-length" && entry->second != value)
            throw HttpParserError(Kind::invalidContentLength, value);
        entry->second = std::move(value);
    }
}

void HttpParser::readBody(Socket& socket, HttpRequest& request) const {
    const Headers& headers = request.headers;
    const auto length = headers.find("content-length");
    if (headers.count("transfer-encoding")) {
        if (length != headers.end()) throw HttpParserError(Kind::invalidContentLength, "with transfer-encoding");
        if (!hasValue(headers, "transfer-encoding", "chunked"))
            throw HttpParserError(Kind::unsupportedTransferEncoding, headers.at("transfer-encoding"));
        sendContinueIfExpected(socket, headers);
        readChunkedBody(socket, request.body);
        return;
    }
    if (length == headers.end()) return;
    const auto size = parseUnsigned(length->second, 10);
    if (!size) throw HttpParserError(Kind::invalidContentLength, length->second);
    if (*size > limits_.maxBodySize) throw HttpParserError(Kind::bodyTooLarge, length->second);
    if (*size == 0) return;
    sendContinueIfExpected(socket, headers);
    socket.readExactly(request.body, static_cast<std::size_t>(*size));
}

void HttpParser::readChunkedBody(Socket& socket, std::string& body) const {
    for (;;) {
        const std::string line = readLine(socket);
        const auto size = parseUnsigned(trim(line.substr(0, line.find(';'))), 16);
        if (!size) throw HttpParserError(Kind::invalidChunkedBody, line);
        if (*size == 0) break;
        if (*size > limits_.maxBodySize - body.size()) throw HttpParserError(Kind::bodyTooLarge, line);
        socket.readExactly(body, static_cast<std::size_t>(*size));
        if (!readLine(socket).empty()) throw HttpParserError(Kind::invalidChunkedBody, "missing chunk end");
    }
    // Trailer fields are read and dropped.
    for (std::size_t count = 0; !readLine(socket).empty(); ++count)
        if (count == limits_.maxHeaderCount) throw HttpParserError(Kind::tooManyHeaders, "");
}

bool HttpParser::supportsKeepAlive(const Headers& headers) {
    const auto found = headers.find("connection");
    return found != headers.end() && trim(found->second) == "keep-alive";
}

HttpRequest::Pairs HttpParser::extractUrlParams(const std::string& url) {
    HttpRequest::Pairs pairs;
    const std::size_t mark = url.find('?');
    if (mark == std::string::npos) return pairs;
    const auto pieces = split(std::string_view(url).substr(mark + 1), '?');
    if (pieces.empty()) return pairs;
    for (const auto& piece : split(pieces.back(), '&')) {
        const auto nameValue = split(piece, '=');
        if (nameValue.empty())
            pairs.emplace_back();
        else
            pairs.emplace_back(removePercentEncoding(nameValue.front()), removePercentEncoding(nameValue.back()));
    }
    return pairs;
}

}  // namespace http
