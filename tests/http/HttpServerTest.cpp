#include <gtest/gtest.h>

#include <fstream>

#include "ServerFixture.h"

using namespace http;
using namespace http::test;

namespace {

const std::string serverLine = "Server: Siderama " SIDERAMA_TEST_VERSION "\r\n";

std::string get(const std::string& path, const std::string& extra = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
}

const std::string keepAlive = "Connection: keep-alive\r\n";
// Answers that end the connection say so.
const std::string closing = "Connection: close\r\n";

}  // namespace

TEST_F(ServerTest, AnswersAndClosesWithoutKeepAlive) {
    EXPECT_EQ(exchange(get("/hello")), "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n" + closing + serverLine + "\r\nhello");
}

TEST_F(ServerTest, UnknownRouteIsNotFound) {
    EXPECT_EQ(exchange(get("/nothing")), "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n" + closing + serverLine + "\r\n");
}

TEST_F(ServerTest, KeepAliveAnswerLayout) {
    TestClient client(port);
    client.send(get("/page", keepAlive));
    const std::string page = "<html><meta charset=\"UTF-8\"><body>page</body></html>";
    EXPECT_EQ(client.readResponse(), "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) +
                                         "\r\nConnection: keep-alive\r\nContent-Type: text/html\r\n" + serverLine +
                                         "\r\n" + page);
    client.send(get("/json", keepAlive));
    const auto json = parseResponse(client.readResponse());
    EXPECT_EQ(json.headers.at("Content-Type"), "application/json");
    EXPECT_EQ(json.body, "{\n  \"status\": \"success\"\n}");
    client.send(get("/hello"));
    EXPECT_EQ(parseResponse(client.readResponse()).body, "hello");
    EXPECT_TRUE(client.closedByServer());
}

TEST_F(ServerTest, EveryResponseKindOnTheWire) {
    server->GET["/kind/:name"] = [](const HttpRequest& request) {
        const std::string& name = request.params.at("name");
        if (name == "created") return HttpResponse::created();
        if (name == "accepted") return HttpResponse::accepted();
        if (name == "moved") return HttpResponse::movedPermanently("/next");
        if (name == "bad") return HttpResponse::badRequest();
        if (name == "unauthorized") return HttpResponse::unauthorized();
        if (name == "forbidden") return HttpResponse::forbidden();
        if (name == "error") return HttpResponse::internalServerError();
        return HttpResponse::raw(299, "Whatever", HttpResponse::Headers{{"X-A", "1"}}, std::string("raw"));
    };
    const std::vector<std::pair<std::string, std::string>> expected{
        {"created", "201 Created\r\nContent-Length: 0\r\n" + closing + serverLine},
        {"accepted", "202 Accepted\r\nContent-Length: 0\r\n" + closing + serverLine},
        {"moved", "301 Moved Permanently\r\nContent-Length: 0\r\n" + closing + "Location: /next\r\n" + serverLine},
        {"bad", "400 Bad Request\r\nContent-Length: 0\r\n" + closing + serverLine},
        {"unauthorized", "401 Unauthorized\r\nContent-Length: 0\r\n" + closing + serverLine},
        {"forbidden", "403 Forbidden\r\nContent-Length: 0\r\n" + closing + serverLine},
        {"error", "500 Internal Server Error\r\nContent-Length: 0\r\n" + closing + serverLine},
        {"raw", "299 Whatever\r\nContent-Length: 3\r\n" + closing + serverLine + "X-A: 1\r\n"},
    };
    for (const auto& [name, head] : expected) {
        const std::string body = name == "raw" ? "raw" : "";
        EXPECT_EQ(exchange(get("/kind/" + name)), "HTTP/1.1 " + head + "\r\n" + body) << name;
    }
}

TEST_F(ServerTest, PipelinedRequestsAreAnsweredInOrder) {
    TestClient client(port);
    client.send(get("/query?n=1", keepAlive) + "POST /echo HTTP/1.1\r\nConnection: keep-alive\r\nContent-Length: 4\r\n\r\nbody" +
                get("/query?n=3"));
    EXPECT_EQ(parseResponse(client.readResponse()).body, "n=1;");
    EXPECT_EQ(parseResponse(client.readResponse()).body, "body");
    EXPECT_EQ(parseResponse(client.readResponse()).body, "n=3;");
    EXPECT_TRUE(client.closedByServer());
}

TEST_F(ServerTest, RequestDetailsReachTheHandler) {
    EXPECT_EQ(parseResponse(exchange(get("/query?a=%41&b=x+y&a=2"))).body, "a=A;b=x+y;a=2;");
    EXPECT_EQ(parseResponse(exchange(get("/address"))).body, "127.0.0.1");
    EXPECT_EQ(parseResponse(exchange(get("/header/x-thing", "X-Thing:   v:w  \r\n"))).body, "v:w");
}

TEST_F(ServerTest, MalformedRequestLineIsClosedWithoutAnswer) {
    EXPECT_EQ(exchange("GET /\r\n\r\n"), "");
    EXPECT_EQ(exchange("\r\n"), "");
}

TEST_F(ServerTest, HandlerExceptionBecomesInternalServerError) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(parseResponse(exchange(get("/throw"))).status, 500);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("handler bug"), std::string::npos);
}

TEST_F(ServerTest, ChunkedBodiesAreDecoded) {
    const auto response = exchange(
        "PUT /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n5\r\npedia\r\n0\r\n\r\n");
    EXPECT_EQ(parseResponse(response).body, "Wikipedia");
}

TEST_F(ServerTest, ExpectContinueIsAnswered) {
    TestClient client(port);
    client.send("POST /echo HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n");
    EXPECT_EQ(client.readResponse(), "HTTP/1.1 100 Continue\r\n\r\n");
    client.send("ok");
    EXPECT_EQ(parseResponse(client.readResponse()).body, "ok");
}

TEST_F(ServerTest, OversizedAndMalformedRequestsAreRefusedAndClosed) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {get("/" + std::string(2000, 'a')), "431 Request Header Fields Too Large"},
        {get("/hello", "X: " + std::string(2000, 'v') + "\r\n"), "431 Request Header Fields Too Large"},
        {get("/hello", [] {
             std::string headers;
             for (int i = 0; i < 21; ++i) headers.append("H").append(std::to_string(i)).append(": v\r\n");
             return headers;
         }()),
         "431 Request Header Fields Too Large"},
        {"POST /echo HTTP/1.1\r\nContent-Length: 2000000\r\n\r\nsome", "413 Payload Too Large"},
        {"POST /echo HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "400 Bad Request"},
        {"POST /echo HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", "400 Bad Request"},
        {"PUT /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nnope\r\n", "400 Bad Request"},
        {"PUT /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n", "400 Bad Request"},
    };
    for (const auto& [request, status] : cases) {
        TestClient client(port);
        client.send(request + get("/hello"));
        EXPECT_EQ(client.readAll(), "HTTP/1.1 " + status + "\r\nContent-Length: 0\r\n" + closing + serverLine + "\r\n")
            << request.substr(0, 60);
    }
}

TEST_F(ServerTest, BodyTooLargeForMemoryIsRefused) {
    std::ifstream overcommit("/proc/sys/vm/overcommit_memory");
    int mode = 0;
    overcommit >> mode;
    if (mode == 1) GTEST_SKIP() << "the kernel grants any allocation";
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer ends the process instead of throwing std::bad_alloc";
#endif
    auto config = quickConfig();
    config.limits.maxBodySize = std::uint64_t{1} << 50;
    startServer(config);
    TestClient client(port);
    client.send("PUT /echo HTTP/1.1\r\nContent-Length: " + std::to_string(std::uint64_t{1} << 49) + "\r\n\r\n" +
                std::string(1 << 20, 'x'));
    EXPECT_EQ(parseResponse(client.readResponse()).status, 413);
    EXPECT_EQ(parseResponse(exchange(get("/hello"))).body, "hello");
}

TEST_F(ServerTest, RefusedUploadIsAnsweredWhileTheClientStillSends) {
    TestClient client(port);
    client.send("PUT /echo HTTP/1.1\r\nContent-Length: 50000000\r\n\r\n");
    std::thread sender([&] { client.send(std::string(4 << 20, 'x')); });
    EXPECT_EQ(parseResponse(client.readResponse()).status, 413);
    client.shutdownWrite();
    sender.join();
}

TEST_F(ServerTest, ClientVanishingMidRequestLeavesTheServerServing) {
    for (const std::string partial : {"GET /hel", "GET /hello HTTP/1.1\r\nHost", "POST /echo HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc",
                                      "PUT /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nab"}) {
        TestClient client(port);
        client.send(partial);
    }
    EXPECT_EQ(parseResponse(exchange(get("/hello"))).body, "hello");
    EXPECT_TRUE(waitForConnections(0));
}

TEST_F(ServerTest, ClientLeavingBeforeTheAnswerIsLogged) {
    testing::internal::CaptureStdout();
    {
        TestClient client(port);
        client.send(get("/slow"));
        ASSERT_TRUE(waitForConnections(1));
    }
    EXPECT_TRUE(waitForConnections(0));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("Failed to send response: writeFailed(\""), std::string::npos) << output;
    EXPECT_EQ(parseResponse(exchange(get("/hello"))).body, "hello");
}

TEST_F(ServerTest, SlowButSteadyClientIsServed) {
    TestClient client(port);
    for (char c : get("/hello")) {
        client.send(std::string(1, c));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(parseResponse(client.readResponse()).body, "hello");
}

TEST_F(ServerTest, IdleConnectionsAreClosedAfterTheTimeout) {
    TestClient silent(port);
    TestClient afterOne(port);
    afterOne.send(get("/hello", keepAlive));
    EXPECT_EQ(parseResponse(afterOne.readResponse()).body, "hello");
    TestClient halfHeader(port);
    halfHeader.send("GET /hello HTTP/1.1\r\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(silent.closedByServer());
    EXPECT_TRUE(afterOne.closedByServer());
    EXPECT_TRUE(halfHeader.closedByServer());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(ServerTest, TricklingClientIsCutOffAtTheHeadDeadline) {
    // One byte well inside the idle time-out each time, but the header block
    // never ends: the head deadline closes the connection.
    TestClient slowloris(port);
    slowloris.send("GET /hello HTTP/1.1\r\n");
    const auto start = std::chrono::steady_clock::now();
    bool open = true;
    while (open && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        open = slowloris.send("X");
    }
    EXPECT_FALSE(open);
    EXPECT_TRUE(waitForConnections(0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(parseResponse(exchange(get("/hello"))).body, "hello");
}

TEST_F(ServerTest, SlowBodyIsNotBoundByTheHeadDeadline) {
    TestClient client(port);
    client.send("POST /echo HTTP/1.1\r\nContent-Length: 15\r\n\r\n");
    for (int i = 0; i < 15; ++i) {  // 1.5 s in all, beyond the 1 s head deadline
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(client.send("b"));
    }
    EXPECT_EQ(parseResponse(client.readResponse()).body, std::string(15, 'b'));
}

TEST_F(ServerTest, IdleKeepAliveClientDoesNotBlockOthers) {
    TestClient idle(port);
    idle.send(get("/hello", keepAlive));
    idle.readResponse();
    EXPECT_EQ(parseResponse(exchange(get("/hello"))).body, "hello");
}

TEST_F(ServerTest, FloodOfIdleConnectionsIsCappedAndWellBehavedClientsAreServed) {
    auto config = quickConfig();
    config.maxConnections = 8;
    config.idleTimeout = std::chrono::milliseconds(300);
    startServer(config);
    std::vector<std::unique_ptr<TestClient>> flood;
    for (int i = 0; i < 8; ++i) flood.push_back(std::make_unique<TestClient>(port));
    ASSERT_TRUE(waitForConnections(8));
    // Over the cap: refused at once, not queued behind the idle ones.
    const auto refused = parseResponse(exchange(get("/hello")));
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.reason, "Service Unavailable");
    // The idle ones time out and capacity comes back.
    for (auto& client : flood) EXPECT_TRUE(client->closedByServer());
    EXPECT_TRUE(waitForConnections(0));
    EXPECT_EQ(parseResponse(exchange(get("/hello"))).body, "hello");
}

TEST_F(ServerTest, ManyConcurrentClients) {
    std::vector<std::thread> clients;
    std::atomic<int> served{0};
    for (int i = 0; i < 16; ++i)
        clients.emplace_back([&] {
            TestClient client(port);
            for (int k = 0; k < 20; ++k) {
                client.send(get("/query?k=" + std::to_string(k), keepAlive));
                if (parseResponse(client.readResponse()).body == "k=" + std::to_string(k) + ";") ++served;
            }
        });
    for (auto& client : clients) client.join();
    EXPECT_EQ(served, 16 * 20);
}
