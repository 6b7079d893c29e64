// The server on a loopback port: connections, refusals, time-outs, abuse.
#include <fstream>

#include "ServerFixture.h"

using namespace http;
using namespace http::test;

namespace {

std::string get(const std::string& path, const std::string& extra = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
}
const std::string keepAlive = "Connection: keep-alive\r\n";

TEST_F(ServerTest, KeepAliveIsHonouredAndPipelinedRequestsAnsweredInOrder) {
    RawHttpClient client(port);
    client.send(get("/query?n=1", keepAlive) +
                "POST /echo HTTP/1.1\r\nConnection: keep-alive\r\nContent-Length: 4\r\n\r\nbody" + get("/query?n=3"));
    EXPECT_EQ(parseAnswer(client.readResponse()).body, "n=1;");
    EXPECT_EQ(parseAnswer(client.readResponse()).headers["connection"], "keep-alive");
    const auto last = parseAnswer(client.readResponse());
    EXPECT_EQ(last.body, "n=3;");
    EXPECT_EQ(last.headers.at("connection"), "close");
    EXPECT_TRUE(client.closedByServer());
}

TEST_F(ServerTest, ExpectContinueIsAnswered) {
    RawHttpClient client(port);
    client.send("POST /echo HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n");
    EXPECT_EQ(client.readResponse(), "HTTP/1.1 100 Continue\r\n\r\n");
    client.send("ok");
    EXPECT_EQ(parseAnswer(client.readResponse()).body, "ok");
}

TEST_F(ServerTest, HandlerExceptionBecomesInternalServerError) {
    server->GET["/throw"] = [](const HttpRequest&) -> HttpResponse { throw std::runtime_error("handler bug"); };
    testing::internal::CaptureStdout();
    EXPECT_EQ(parseAnswer(exchange(get("/throw"))).status, 500);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("handler bug"), std::string::npos);
}

// A refused request is answered with its status and the connection closed:
// what follows on it is not served. A bad request line gets no answer.
TEST_F(ServerTest, RefusedRequestsAreAnsweredAndClosed) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {get("/" + std::string(2000, 'a')), "431 Request Header Fields Too Large"},
        {"POST /echo HTTP/1.1\r\nContent-Length: 2000000\r\n\r\nsome", "413 Payload Too Large"},
        {"PUT /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nnope\r\n", "400 Bad Request"},
        {"GET /\r\n\r\n", ""},
    };
    for (const auto& [request, status] : cases) {
        const std::string answer = exchange(request + get("/hello"));
        EXPECT_EQ(answer.empty() ? "" : answer.substr(9, answer.find("\r\n") - 9), status) << request.substr(0, 40);
        EXPECT_EQ(answer.find("hello"), std::string::npos);
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
    RawHttpClient client(port);
    client.send("PUT /echo HTTP/1.1\r\nContent-Length: " + std::to_string(std::uint64_t{1} << 49) + "\r\n\r\n" +
                std::string(1 << 20, 'x'));
    EXPECT_EQ(parseAnswer(client.readResponse()).status, 413);
    EXPECT_EQ(hello(), "hello");
}

TEST_F(ServerTest, RefusedUploadIsAnsweredWhileTheClientStillSends) {
    RawHttpClient client(port);
    client.send("PUT /echo HTTP/1.1\r\nContent-Length: 50000000\r\n\r\n");
    std::thread sender([&] { client.send(std::string(4 << 20, 'x')); });
    EXPECT_EQ(parseAnswer(client.readResponse()).status, 413);
    client.shutdownWrite();
    sender.join();
}

TEST_F(ServerTest, ClientsLeavingMidRequestOrBeforeTheAnswerLeaveTheServerServing) {
    for (const std::string partial : {"GET /hel", "POST /echo HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc",
                                      "PUT /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nab"})
        RawHttpClient(port).send(partial);
    testing::internal::CaptureStdout();
    {
        RawHttpClient client(port);
        client.send(get("/slow"));
        ASSERT_TRUE(waitForConnections(1));
    }
    EXPECT_TRUE(waitForConnections(0));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("Failed to send response: writeFailed(\""), std::string::npos) << output;
    EXPECT_EQ(hello(), "hello");
}

TEST_F(ServerTest, IdleAndTricklingClientsAreClosedButSteadyOnesServed) {
    RawHttpClient silent(port);
    RawHttpClient afterOne(port);
    afterOne.send(get("/hello", keepAlive));
    EXPECT_EQ(parseAnswer(afterOne.readResponse()).body, "hello");
    RawHttpClient halfHeader(port);
    halfHeader.send("GET /hello HTTP/1.1\r\n");
    EXPECT_TRUE(silent.closedByServer());
    EXPECT_TRUE(afterOne.closedByServer());
    EXPECT_TRUE(halfHeader.closedByServer());

    // A byte well inside the idle time-out each time, but the head never
    // ends: the head deadline closes the connection.
    RawHttpClient slowloris(port, std::chrono::seconds(30));
    slowloris.send("GET /hello HTTP/1.1\r\n");
    bool open = true;
    for (int i = 0; i < 300 && open; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        open = slowloris.send("X");
    }
    EXPECT_FALSE(open);

    // A body sent over 1.5 s is not bound by the 1 s head deadline.
    RawHttpClient slowBody(port);
    slowBody.send("POST /echo HTTP/1.1\r\nContent-Length: 15\r\n\r\n");
    for (int i = 0; i < 15; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(slowBody.send("b"));
    }
    EXPECT_EQ(parseAnswer(slowBody.readResponse()).body, std::string(15, 'b'));
}

TEST_F(ServerTest, FloodOfIdleConnectionsIsCappedAndCapacityComesBack) {
    auto config = quickConfig();
    config.maxConnections = 8;
    config.idleTimeout = std::chrono::milliseconds(300);
    startServer(config);
    std::vector<std::unique_ptr<RawHttpClient>> flood;
    for (int i = 0; i < 8; ++i) flood.push_back(std::make_unique<RawHttpClient>(port));
    ASSERT_TRUE(waitForConnections(8));
    const auto refused = parseAnswer(exchange(get("/hello")));  // at once, not queued
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.reason, "Service Unavailable");
    for (auto& client : flood) EXPECT_TRUE(client->closedByServer());
    EXPECT_TRUE(waitForConnections(0));
    EXPECT_EQ(hello(), "hello");
}

TEST_F(ServerTest, ManyConcurrentClients) {
    std::vector<std::thread> clients;
    std::atomic<int> served{0};
    for (int i = 0; i < 16; ++i)
        clients.emplace_back([&] {
            RawHttpClient client(port);
            for (int k = 0; k < 20; ++k) {
                client.send(get("/query?k=" + std::to_string(k), keepAlive));
                if (parseAnswer(client.readResponse()).body == "k=" + std::to_string(k) + ";") ++served;
            }
        });
    for (auto& client : clients) client.join();
    EXPECT_EQ(served, 16 * 20);
}

}  // namespace
