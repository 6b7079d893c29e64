// Requests that proxies may read differently, and clients that try to hold
// the server's connections, over real loopback sockets.
#include "http/HttpServer.h"
#include "http/Socket.h"
#include "http/SocketError.h"
#include "support/RawHttpClient.h"

#include <gtest/gtest.h>

#include <thread>

using namespace http;
using namespace std::string_literals;
using testsupport::RawHttpClient;

namespace {

class Abuse : public ::testing::Test {
protected:
    void start(HttpServerConfig config = {}) {
        config.bindAddress = "127.0.0.1";
        server = std::make_unique<HttpServer>(config);
        server->GET["/hello"] = [](const HttpRequest&) { return HttpResponse::ok(HttpResponseBody::text("hello")); };
        server->POST["/echo"] = [](const HttpRequest& r) { return HttpResponse::ok(HttpResponseBody::text(r.body)); };
        server->start();
    }
    int status(const std::string& request) { return testsupport::parseAnswer(testsupport::exchangeRaw(server->port(), request)).status; }

    std::unique_ptr<HttpServer> server;
};

struct Case {
    const char* name;
    std::string request;
};

class RequestAbuse : public Abuse, public ::testing::WithParamInterface<Case> {};

TEST_P(RequestAbuse, IsRefusedWith400) {
    start();
    EXPECT_EQ(status(GetParam().request), 400) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RequestAbuse,
    ::testing::Values(Case{"NulInName", "POST /echo HTTP/1.1\r\nContent-\0Length: 5\r\n\r\nhello"s},
                      Case{"VerticalTabInLength", "POST /echo HTTP/1.1\r\nContent-Length: 1\x0b"
                                                  "0\r\n\r\n0123456789"},
                      Case{"ControlByteInValue", "GET /hello HTTP/1.1\r\nX-A: a\x01z\r\n\r\n"},
                      Case{"NulInTarget", "GET /hel\0lo HTTP/1.1\r\n\r\n"s},
                      Case{"SpaceBeforeColon", "POST /echo HTTP/1.1\r\nContent-Length : 3\r\n\r\nabc"},
                      Case{"FoldedLine", "GET /hello HTTP/1.1\r\nX-A: 1\r\n  folded\r\n\r\n"},
                      Case{"TwoTransferEncodings", "POST /echo HTTP/1.1\r\nTransfer-Encoding: identity\r\n"
                                                   "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"},
                      Case{"Http2Version", "GET /hello HTTP/2.0\r\n\r\n"},
                      Case{"Http09Version", "GET /hello HTTP/0.9\r\n\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// One address holding its share of connections leaves room for others, and
// is itself turned away beyond it.
TEST_F(Abuse, ConnectionsBeyondTheClientsShareAreTurnedAway) {
    start({.maxConnectionsPerClient = 2});
    RawHttpClient first(server->port()), second(server->port());
    for (int i = 0; i < 500 && server->connectionCount() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(status("GET /hello HTTP/1.1\r\n\r\n"), 503);
}

// Once half the places are taken a silent handshake is cut at the shorter
// deadline; an address holding connections leaves the last place to others.
TEST_F(Abuse, SilentHandshakesUnderPressureAndPlacesKeptForNewAddresses) {
    start({.handshakeTimeout = std::chrono::seconds(60), .pressedHandshakeTimeout = std::chrono::milliseconds(300),
           .maxConnections = 6, .placesForNewAddresses = 1});
    const int secure = server->listen(0, [](Socket& socket) -> std::unique_ptr<SecureStream> {
        char byte;
        socket.receiveRaw(&byte, 1);  // the client never speaks
        throw SocketError(SocketError::Kind::handshakeFailed, "silent");
    });
    std::vector<std::unique_ptr<RawHttpClient>> held;
    for (int i = 0; i < 3; ++i) held.push_back(std::make_unique<RawHttpClient>(server->port()));
    ASSERT_TRUE(testsupport::waitForConnections(*server, 3));
    EXPECT_TRUE(RawHttpClient(secure).closedByServer());
    for (int i = 0; i < 2; ++i) held.push_back(std::make_unique<RawHttpClient>(server->port()));
    ASSERT_TRUE(testsupport::waitForConnections(*server, 5));
    EXPECT_EQ(status("GET /hello HTTP/1.1\r\n\r\n"), 503);
    EXPECT_EQ(testsupport::curl("--interface 127.0.0.2 http://127.0.0.1:" + std::to_string(server->port()) + "/hello").second, "hello");
}

// A body trickling in far inside the idle time-out (30 s) is cut off once it
// falls behind the minimum rate, long before the time-out could close it.
TEST_F(Abuse, TricklingBodyIsCutOff) {
    start({.limits = {.minBodyRate = 1000, .bodyGrace = std::chrono::milliseconds(200)}});
    RawHttpClient client(server->port());
    bool open = client.send("POST /echo HTTP/1.1\r\nContent-Length: 1000\r\n\r\n");  // due within 1.2 s
    for (int i = 0; open && i < 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        open = client.send("x");
    }
    EXPECT_FALSE(open) << "still open after 10 s of trickling";
}

}  // namespace
