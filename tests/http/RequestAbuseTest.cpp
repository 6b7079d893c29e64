// Requests that proxies may read differently, and clients that try to hold
// the server's connections, over real loopback sockets.
#include <gtest/gtest.h>

#include <thread>

#include "ServerFixture.h"

namespace http::test {

namespace {

struct Abuse {
    const char* name;
    std::string request;
};

class RequestAbuse : public ServerTest, public ::testing::WithParamInterface<Abuse> {};

TEST_P(RequestAbuse, IsRefusedWith400) {
    EXPECT_EQ(parseResponse(exchange(GetParam().request)).status, 400) << GetParam().name;
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Table, RequestAbuse,
    ::testing::Values(Abuse{"NulInName", "POST /echo HTTP/1.1\r\nContent-\0Length: 5\r\n\r\nhello"s},
                      Abuse{"VerticalTabInLength", "POST /echo HTTP/1.1\r\nContent-Length: 1\x0b"
                                                   "0\r\n\r\n0123456789"},
                      Abuse{"ControlByteInValue", "GET /hello HTTP/1.1\r\nX-A: a\x01z\r\n\r\n"},
                      Abuse{"NulInTarget", "GET /hel\0lo HTTP/1.1\r\n\r\n"s},
                      Abuse{"SpaceBeforeColon", "POST /echo HTTP/1.1\r\nContent-Length : 3\r\n\r\nabc"},
                      Abuse{"FoldedLine", "GET /hello HTTP/1.1\r\nX-A: 1\r\n  folded\r\n\r\n"},
                      Abuse{"TwoTransferEncodings", "POST /echo HTTP/1.1\r\nTransfer-Encoding: identity\r\n"
                                                    "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"},
                      Abuse{"Http2Version", "GET /hello HTTP/2.0\r\n\r\n"},
                      Abuse{"Http09Version", "GET /hello HTTP/0.9\r\n\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// One address holding its share of connections leaves room for others, and
// is itself turned away beyond it.
TEST_F(ServerTest, ConnectionsBeyondTheClientsShareAreTurnedAway) {
    HttpServerConfig config = quickConfig();
    config.maxConnectionsPerClient = 2;
    startServer(config);
    TestClient first(port), second(port);
    ASSERT_TRUE(waitForConnections(2));
    EXPECT_EQ(parseResponse(exchange("GET /hello HTTP/1.1\r\n\r\n")).status, 503);
}

// A body trickling in just inside the idle time-out is cut off once it falls
// behind the minimum rate.
TEST_F(ServerTest, TricklingBodyIsCutOff) {
    HttpServerConfig config = quickConfig();
    config.limits.minBodyRate = 1000;
    config.limits.bodyGrace = std::chrono::milliseconds(200);
    startServer(config);
    TestClient client(port);
    bool open = client.send("POST /echo HTTP/1.1\r\nContent-Length: 100000\r\n\r\n");
    for (int i = 0; open && i < 100 * slowdown; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        open = client.send("x");
    }
    EXPECT_TRUE(client.closedByServer());
}

}  // namespace

}  // namespace http::test
