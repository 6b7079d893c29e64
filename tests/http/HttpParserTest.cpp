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

// Feeds `bytes` (then end of stream) to a parser over a socket pair.
class Feed {
public:
    explicit Feed(std::string bytes) {
        int fds[2];
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
        socket_ = Socket(fds[0]);
        writer_ = std::thread([fd = fds[1], bytes = std::move(bytes)] {
            send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            shutdown(fd, SHUT_WR);
            char scratch[4096];
            while (recv(fd, scratch, sizeof scratch, 0) > 0) {
            }
            close(fd);
        });
    }
    ~Feed() {
        socket_.release();
        writer_.join();
    }
    HttpRequest next(HttpLimits limits = {}) { return HttpParser(limits).readHttpRequest(socket_); }

private:
    Socket socket_;
    std::thread writer_;
};

HttpRequest parse(const std::string& bytes, HttpLimits limits = {}) { return Feed(bytes).next(limits); }

Kind failure(const std::string& bytes, HttpLimits limits = {}) {
    try {
        parse(bytes, limits);
    } catch (const HttpParserError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no parser error for " << bytes;
    return Kind::readBodyFailed;
}

}  // namespace

TEST(RequestLine, RunsOfSpacesSeparateTokens) {
    const auto request = parse("GET  /x?a=1&b=%41%42&c  HTTP/1.0\r\n\r\n");
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.url, "/x?a=1&b=%41%42&c");
    EXPECT_EQ(request.queryParams, (Pairs{{"a", "1"}, {"b", "AB"}, {"c", "c"}}));
    EXPECT_EQ(request.address, std::string());
    EXPECT_TRUE(request.params.empty());
    EXPECT_TRUE(request.body.empty());
}

TEST(RequestLine, FewerThanThreeTokensIsInvalid) {
    try {
        parse("GET /\r\n\r\n");
        FAIL();
    } catch (const HttpParserError& error) {
        EXPECT_EQ(error.kind(), Kind::invalidStatusLine);
        EXPECT_EQ(error.payload(), "GET /");
        EXPECT_EQ(error.statusCode(), 0);
    }
    EXPECT_EQ(failure("\r\n"), Kind::invalidStatusLine);
}

TEST(RequestLine, TooLongIsRefusedWith431) {
    HttpLimits limits;
    limits.maxLineLength = 64;
    EXPECT_EQ(failure("GET /" + std::string(100, 'a') + " HTTP/1.1\r\n\r\n", limits), Kind::lineTooLong);
    EXPECT_EQ(parse("GET /" + std::string(40, 'a') + " HTTP/1.1\r\n\r\n", limits).url.size(), 41u);
    EXPECT_EQ(HttpParserError(Kind::lineTooLong, "").statusCode(), 431);
}

TEST(RequestLine, PeerClosingMidRequestIsASocketError) {
    EXPECT_THROW(parse("GET / HTTP/1.1\r\nHost: x\r\n"), SocketError);
    EXPECT_THROW(parse("GET / HTTP/1.1\r\nContent-Length: 10\r\n\r\nshort"), SocketError);
    EXPECT_THROW(parse(""), SocketError);
}

TEST(Query, ExtractionRules) {
    EXPECT_EQ(HttpParser::extractUrlParams("/p?a=1=2"), (Pairs{{"a", "2"}}));
    EXPECT_EQ(HttpParser::extractUrlParams("/p?a=1&=&b=2"), (Pairs{{"a", "1"}, {"", ""}, {"b", "2"}}));
    EXPECT_EQ(HttpParser::extractUrlParams("/p?q=a+b"), (Pairs{{"q", "a+b"}}));
    EXPECT_EQ(HttpParser::extractUrlParams("/p?x?y=1"), (Pairs{{"y", "1"}}));
    EXPECT_EQ(HttpParser::extractUrlParams("/p?n=%C3%A9"), (Pairs{{"n", "\xC3\xA9"}}));
}

TEST(Query, UrlsWithoutQueryTextGiveNoPairs) {
    EXPECT_TRUE(HttpParser::extractUrlParams("/api/status").empty());
    EXPECT_TRUE(HttpParser::extractUrlParams("/api/status?").empty());
    EXPECT_TRUE(HttpParser::extractUrlParams("???").empty());
}

TEST(Headers, NamesAreLowerCasedAndValuesTrimmed) {
    const auto request = parse(
        "GET / HTTP/1.1\r\nX-Range: 10:20\r\nX-B: a::b\r\nX-Empty:\r\nX-Space: \r\n"
        "X-A: 1\r\nx-a: 2\r\n\r\n");
    const std::unordered_map<std::string, std::string> expected{
        {"x-range", "10:20"}, {"x-b", "a::b"}, {"x-empty", ""}, {"x-space", ""}, {"x-a", "2"}};
    EXPECT_EQ(request.headers, expected);
}

TEST(Headers, TooManyAreRefusedWith431) {
    HttpLimits limits;
    limits.maxHeaderCount = 5;
    std::string request = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 5; ++i) request.append("H").append(std::to_string(i)).append(": v\r\n");
    EXPECT_EQ(parse(request + "\r\n", limits).headers.size(), 5u);
    EXPECT_EQ(failure(request + "H5: v\r\n\r\n", limits), Kind::tooManyHeaders);
}

TEST(Headers, TooLongLineIsRefused) {
    HttpLimits limits;
    limits.maxLineLength = 100;
    EXPECT_EQ(failure("GET / HTTP/1.1\r\nX: " + std::string(200, 'v') + "\r\n\r\n", limits), Kind::lineTooLong);
}

TEST(Headers, KeepAliveNeedsTheExactToken) {
    auto keepAlive = [](const std::string& value) { return HttpParser::supportsKeepAlive({{"connection", value}}); };
    EXPECT_TRUE(keepAlive("keep-alive"));
    EXPECT_TRUE(keepAlive("  keep-alive "));
    EXPECT_FALSE(keepAlive("Keep-Alive"));
    EXPECT_FALSE(keepAlive("keep-alive, Upgrade"));
    EXPECT_FALSE(HttpParser::supportsKeepAlive({}));
}

TEST(Body, ContentLengthReadsExactlyThatMany) {
    Feed feed("POST / HTTP/1.1\r\nCONTENT-LENGTH: 2\r\n\r\nabGET /next HTTP/1.1\r\n\r\n");
    EXPECT_EQ(feed.next().body, "ab");
    EXPECT_EQ(feed.next().url, "/next");
}

TEST(Body, ZeroOrMissingLengthGivesNoBody) {
    EXPECT_TRUE(parse("POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n").body.empty());
    EXPECT_TRUE(parse("POST / HTTP/1.1\r\n\r\n").body.empty());
}

TEST(Body, MalformedContentLengthIsRefusedWith400) {
    for (const char* value : {"-5", "abc", "+3", "3 4", "0x10", "99999999999999999999999", "1,1"})
        EXPECT_EQ(failure(std::string("POST / HTTP/1.1\r\nContent-Length: ") + value + "\r\n\r\nabc"),
                  Kind::invalidContentLength)
            << value;
    EXPECT_EQ(HttpParserError(Kind::invalidContentLength, "").statusCode(), 400);
}

TEST(Body, DifferingDuplicateContentLengthsAreRefused) {
    EXPECT_EQ(failure("POST / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd"),
              Kind::invalidContentLength);
    EXPECT_EQ(parse("POST / HTTP/1.1\r\nContent-Length: 3\r\ncontent-length:3\r\n\r\nabc").body, "abc");
}

TEST(Body, LargerThanTheLimitIsRefusedWith413) {
    HttpLimits limits;
    limits.maxBodySize = 10;
    EXPECT_EQ(failure("POST / HTTP/1.1\r\nContent-Length: 11\r\n\r\n", limits), Kind::bodyTooLarge);
    EXPECT_EQ(parse("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n0123456789", limits).body, "0123456789");
    EXPECT_EQ(HttpParserError(Kind::bodyTooLarge, "").statusCode(), 413);
}

TEST(Body, BinaryBytesArriveUnchanged) {
    const std::string binary("\0\r\n\xFF\x80zz", 7);
    EXPECT_EQ(parse("PUT / HTTP/1.1\r\nContent-Length: 7\r\n\r\n" + binary).body, binary);
}

TEST(Chunked, BodiesAreDecoded) {
    Feed feed(
        "PUT /u HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
        "5\r\nhello\r\nA;ext=1\r\n, chunked!\r\n0\r\nTrailer: x\r\n\r\n"
        "GET /after HTTP/1.1\r\n\r\n");
    EXPECT_EQ(feed.next().body, "hello, chunked!");
    EXPECT_EQ(feed.next().url, "/after");
}

TEST(Chunked, EmptyBodyIsJustTheLastChunk) {
    EXPECT_TRUE(parse("PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n").body.empty());
}

TEST(Chunked, MalformedChunksAreRefusedWith400) {
    const std::string head = "PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    EXPECT_EQ(failure(head + "zz\r\nhello\r\n0\r\n\r\n"), Kind::invalidChunkedBody);
    EXPECT_EQ(failure(head + "\r\n"), Kind::invalidChunkedBody);
    EXPECT_EQ(failure(head + "-1\r\n"), Kind::invalidChunkedBody);
    EXPECT_EQ(failure(head + "3\r\nhelloX\r\n0\r\n\r\n"), Kind::invalidChunkedBody);
    EXPECT_EQ(failure(head + "FFFFFFFFFFFFFFFFFF\r\n"), Kind::invalidChunkedBody);
}

TEST(Chunked, TruncatedBodyIsASocketError) {
    EXPECT_THROW(parse("PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel"), SocketError);
}

TEST(Chunked, BodyLimitCountsAllChunks) {
    HttpLimits limits;
    limits.maxBodySize = 8;
    const std::string head = "PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    EXPECT_EQ(failure(head + "5\r\nhello\r\n5\r\nworld\r\n0\r\n\r\n", limits), Kind::bodyTooLarge);
    EXPECT_EQ(failure(head + "FFFFFFFFFFFFFFFF\r\n", limits), Kind::bodyTooLarge);
}

TEST(Chunked, OtherCodingsAndMixedFramingAreRefused) {
    EXPECT_EQ(failure("PUT / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n"), Kind::unsupportedTransferEncoding);
    EXPECT_EQ(failure("PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n"),
              Kind::invalidContentLength);
}
