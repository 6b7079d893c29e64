// Every kind of response as it goes on the wire, in one write.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>

#include "http/HttpServerIO.h"
#include "http/Socket.h"

using namespace http;

namespace {

// The bytes `respond` sends, which must be one record of a packet socket.
std::string onTheWire(const HttpResponse& response, bool keepAlive) {
    int fds[2];
    socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds);
    Socket server(fds[0]);
    HttpServerIO::respond(server, response, keepAlive);
    std::string record(65536, '\0');
    const ssize_t got = recv(fds[1], record.data(), record.size(), MSG_DONTWAIT);
    char more;
    EXPECT_EQ(recv(fds[1], &more, 1, MSG_DONTWAIT), -1) << "more than one write";
    close(fds[1]);
    return record.substr(0, got > 0 ? std::size_t(got) : 0);
}

const std::string server = "Server: Siderama " SIDERAMA_TEST_VERSION "\r\n";
const std::string closing = "Connection: close\r\n";

std::string empty(const std::string& status, const std::string& extra = "") {
    return "HTTP/1.1 " + status + "\r\nContent-Length: 0\r\n" + closing + extra + server + "\r\n";
}

std::string withBody(const std::string& body, const std::string& type = "") {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + closing +
           (type.empty() ? "" : "Content-Type: " + type + "\r\n") + server + "\r\n" + body;
}

TEST(Response, WireTable) {
    const auto throwing = HttpResponseBody::custom<int>(1, [](const int&) -> std::string { throw std::runtime_error("no"); });
    const std::vector<std::pair<HttpResponse, std::string>> cases{
        {HttpResponse::created(), empty("201 Created")},
        {HttpResponse::accepted(), empty("202 Accepted")},
        {HttpResponse::movedPermanently("/next"), empty("301 Moved Permanently", "Location: /next\r\n")},
        {HttpResponse::badRequest(), empty("400 Bad Request")},
        {HttpResponse::unauthorized(), empty("401 Unauthorized")},
        {HttpResponse::forbidden(), empty("403 Forbidden")},
        {HttpResponse::notFound(), empty("404 Not Found")},
        {HttpResponse::internalServerError(), empty("500 Internal Server Error")},
        {HttpResponse::ok(HttpResponseBody::html("a<b>c")),
         withBody("<html><meta charset=\"UTF-8\"><body>a<b>c</body></html>", "text/html")},
        {HttpResponse::ok(HttpResponseBody::text("h\xC3\xA9")), withBody("h\xC3\xA9")},
        {HttpResponse::ok(HttpResponseBody::json({{"status", "success"}, {"list", {1, 2}}})),
         withBody("{\n  \"list\": [\n    1,\n    2\n  ],\n  \"status\": \"success\"\n}", "application/json")},
        {HttpResponse::ok(HttpResponseBody::json(nlohmann::json::array())), withBody("[]", "application/json")},
        {HttpResponse::ok(HttpResponseBody::json(42)), withBody("Serialisation error: invalidObject", "application/json")},
        {HttpResponse::ok(HttpResponseBody::json({{"x", NAN}})), withBody("Serialisation error: invalidObject", "application/json")},
        {HttpResponse::ok(HttpResponseBody::json({{"x", {1, INFINITY}}})),
         withBody("Serialisation error: invalidObject", "application/json")},
        {HttpResponse::ok(throwing), withBody("Serialisation error: no")},
        {HttpResponse::raw(299, "Whatever", HttpResponse::Headers{{"X-A", "1"}}, std::string("raw")),
         "HTTP/1.1 299 Whatever\r\nContent-Length: 3\r\n" + closing + server + "X-A: 1\r\n\r\nraw"},
        {HttpResponse::raw(299, "W", HttpResponse::Headers{{"Server", "X"}}),
         "HTTP/1.1 299 W\r\nContent-Length: 0\r\n" + closing + "Server: X\r\n\r\n"},
    };
    for (const auto& [response, wire] : cases) EXPECT_EQ(onTheWire(response, false), wire);
    const std::string big(3000, 'b');
    EXPECT_EQ(onTheWire(HttpResponse::ok(HttpResponseBody::text(big)), true),
              "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\nConnection: keep-alive\r\n" + server + "\r\n" + big);
    const auto badText = onTheWire(HttpResponse::ok(HttpResponseBody::json({{"x", "\xFF"}})), false);
    EXPECT_NE(badText.find("\r\n\r\nSerialisation error: "), std::string::npos) << badText;
}

}  // namespace
