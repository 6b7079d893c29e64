// The request reader over a socket pair: what it accepts, and one table of what it refuses.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "http/HttpParser.h"
#include "http/HttpParserError.h"
#include "http/Socket.h"
#include "http/SocketError.h"

using namespace http;
using Pairs = HttpRequest::Pairs;
using Kind = HttpParserError::Kind;

namespace {

// Feeds `bytes`, then end of stream, to a reader.
struct Feed {
    explicit Feed(std::string bytes) {
        int fds[2];
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
        socket = Socket(fds[0]);
        writer = std::thread([fd = fds[1], bytes = std::move(bytes)] {
            send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            shutdown(fd, SHUT_WR);
            for (char scratch[4096]; recv(fd, scratch, sizeof scratch, 0) > 0;) {
            }
            close(fd);
        });
    }
    ~Feed() {
        socket.release();
        writer.join();
    }
    HttpRequest next(HttpLimits limits = {}) { return HttpParser(limits).readHttpRequest(socket); }
    Socket socket;
    std::thread writer;
};

HttpRequest parse(const std::string& bytes, HttpLimits limits = {}) { return Feed(bytes).next(limits); }

// The refusal's kind and status (0: closed without an answer); nullopt for a connection ending mid-request.
std::pair<std::optional<Kind>, int> refusal(const std::string& bytes, HttpLimits limits) {
    try {
        parse(bytes, limits);
        ADD_FAILURE() << "accepted: " << bytes;
    } catch (const HttpParserError& error) {
        return {error.kind(), error.statusCode()};
    } catch (const SocketError&) {
    }
    return {std::nullopt, 0};
}

const HttpLimits small{.maxLineLength = 64, .maxHeaderCount = 5, .maxBodySize = 10};
const std::string chunked = "PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
std::string withLength(const std::string& value, const std::string& body = "abc") {
    return "POST / HTTP/1.1\r\nContent-Length: " + value + "\r\n\r\n" + body;
}
std::string headers(int count) {
    std::string text = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < count; ++i) text += "H" + std::to_string(i) + ": v\r\n";
    return text + "\r\n";
}

TEST(RequestReader, ReadsRequestLineQueryAndHeadersInFewReads) {
    std::string many;
    for (int i = 0; i < 40; ++i) many += "X-Header-" + std::to_string(i) + ": some value\r\n";
    Feed feed("GET  /x?a=1&b=%41%42&c  HTTP/1.0\r\nX-Range: 10:20\r\nX-B: a::b\r\nX-Empty:\r\nX-Space: \r\nno colon\r\n"
              ":leading\r\nX-A: 1\r\nx-a: 2\r\nX-Tab: a\tb\r\nX-Latin: \xE9\r\n" + many + "\r\n");
    const auto request = feed.next();
    EXPECT_EQ(request.method + " " + request.url, "GET /x?a=1&b=%41%42&c");
    EXPECT_EQ(request.queryParams, (Pairs{{"a", "1"}, {"b", "AB"}, {"c", "c"}}));
    EXPECT_EQ(request.headers.size(), 46u);
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"x-range", "10:20"}, {"x-b", "a:b"}, {"x-space", ""}, {"x-a", "2"}, {"x-tab", "ab"}, {"x-latin", "\xC3\xA9"}})
        EXPECT_EQ(request.headers.at(name), value) << name;
    EXPECT_LE(feed.socket.receiveCalls(), 2u) << "reads are buffered";
}

TEST(RequestReader, BodiesEndWhereTheirFramingSays) {
    Feed feed("POST / HTTP/1.1\r\nCONTENT-LENGTH: 2\r\n\r\nab" + chunked +
              "5\r\nhello\r\nA;ext=1\r\n, chunked!\r\n0\r\nTrailer: x\r\n\r\nGET /next HTTP/1.1\r\n\r\n");
    EXPECT_EQ(feed.next().body, "ab");
    EXPECT_EQ(feed.next().body, "hello, chunked!");
    EXPECT_EQ(feed.next().url, "/next");
    const std::string binary("\0\r\n\xFF\x80zz", 7);
    const std::vector<std::pair<std::string, std::string>> accepted{  // at the limits, and framing forms
        {withLength("10", "0123456789"), "0123456789"}, {withLength("7", binary), binary}, {withLength("0"), ""},
        {"POST / HTTP/1.1\r\n\r\n", ""}, {"POST / HTTP/1.1\r\nContent-Length : 3\r\n\r\nabc", ""},
        {"POST / HTTP/1.1\r\nContent-Length: 3\r\ncontent-length:3\r\n\r\nabc", "abc"}, {chunked + "0\r\n\r\n", ""},
        {headers(5), ""}, {"GET /" + std::string(40, 'a') + " HTTP/1.1\r\n\r\n", ""}};
    for (const auto& [bytes, body] : accepted) EXPECT_EQ(parse(bytes, small).body, body) << bytes;
}

TEST(RequestReader, RefusalTable) {
    const std::vector<std::tuple<std::string, std::optional<Kind>, int>> cases{
        {"GET /\r\n\r\n", Kind::invalidStatusLine, 0},
        {"\r\n", Kind::invalidStatusLine, 0},
        {"GET /" + std::string(100, 'a') + " HTTP/1.1\r\n\r\n", Kind::lineTooLong, 431},
        {"GET / HTTP/1.1\r\nX: " + std::string(100, 'v') + "\r\n\r\n", Kind::lineTooLong, 431},
        {headers(6), Kind::tooManyHeaders, 431},
        {withLength("11", std::string(11, 'b')), Kind::bodyTooLarge, 413},
        {withLength("-5"), Kind::invalidContentLength, 400},
        {withLength("abc"), Kind::invalidContentLength, 400},
        {withLength("+3"), Kind::invalidContentLength, 400},
        {withLength("3 4"), Kind::invalidContentLength, 400},
        {withLength("0x10"), Kind::invalidContentLength, 400},
        {withLength("99999999999999999999999"), Kind::invalidContentLength, 400},
        {withLength("1,1"), Kind::invalidContentLength, 400},
        {"POST / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", Kind::invalidContentLength, 400},
        {chunked + "zz\r\nhello\r\n0\r\n\r\n", Kind::invalidChunkedBody, 400},
        {chunked + "\r\n", Kind::invalidChunkedBody, 400},
        {chunked + "-1\r\n", Kind::invalidChunkedBody, 400},
        {chunked + "3\r\nhelloX\r\n0\r\n\r\n", Kind::invalidChunkedBody, 400},
        {chunked + "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", Kind::bodyTooLarge, 413},
        {chunked + "FFFFFFFFFFFFFFFF\r\n", Kind::bodyTooLarge, 413},
        {"PUT / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", Kind::unsupportedTransferEncoding, 400},
        {"PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n", Kind::invalidContentLength, 400},
        {"", std::nullopt, 0},
        {"GET / HTTP/1.1\r\nHost: x\r\n", std::nullopt, 0},
        {withLength("5", "abc"), std::nullopt, 0},
        {chunked + "5\r\nhel", std::nullopt, 0},
    };
    for (const auto& [bytes, kind, status] : cases) EXPECT_EQ(refusal(bytes, small), std::pair(kind, status)) << bytes;
    EXPECT_EQ(refusal(chunked + "FFFFFFFFFFFFFFFFFF\r\n", {}), std::pair(std::optional(Kind::invalidChunkedBody), 400));
}

TEST(RequestReader, QueryPairsAndKeepAlive) {
    const std::vector<std::pair<std::string, Pairs>> cases{
        {"/p?a=1=2", {{"a", "2"}}}, {"/p?a=1&=&b=2", {{"a", "1"}, {"", ""}, {"b", "2"}}}, {"/p?q=a+b", {{"q", "a+b"}}},
        {"/p?x?y=1", {{"y", "1"}}}, {"/p?n=%C3%A9", {{"n", "\xC3\xA9"}}}, {"/api/status", {}}, {"/api/status?", {}},
        {"???", {}}};
    for (const auto& [url, pairs] : cases) EXPECT_EQ(HttpParser::extractUrlParams(url), pairs) << url;
    for (const auto& [value, keep] : std::vector<std::pair<std::string, bool>>{
             {"keep-alive", true}, {"  keep-alive ", true}, {"Keep-Alive", false}, {"keep-alive, Upgrade", false}})
        EXPECT_EQ(HttpParser::supportsKeepAlive({{"connection", value}}), keep) << value;
    EXPECT_FALSE(HttpParser::supportsKeepAlive({}));
}

}  // namespace
