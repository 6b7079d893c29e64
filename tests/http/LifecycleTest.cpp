// Starting, stopping and destroying a server under load.
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

#include "ServerFixture.h"
#include "http/SocketError.h"

using namespace http;
using namespace http::test;

namespace {

TEST_F(ServerTest, StopClosesEverythingAndStartWorksAgainOnAGivenPort) {
    RawHttpClient idle(port);
    RawHttpClient busy(port);
    busy.send("GET /slow HTTP/1.1\r\n\r\n");
    idle.send("GET /hello HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    idle.readResponse();
    server->stop();
    EXPECT_FALSE(server->isRunning());
    EXPECT_EQ(server->port(), 0);
    EXPECT_EQ(server->connectionCount(), 0u);
    EXPECT_TRUE(idle.closedByServer());
    EXPECT_FALSE(RawHttpClient(port).connected());
    server->start(static_cast<uint16_t>(port));
    EXPECT_EQ(server->port(), port);
    EXPECT_EQ(hello(), "hello");
    HttpServer second(quickConfig());
    EXPECT_THROW(second.start(static_cast<uint16_t>(port)), SocketError);
    EXPECT_FALSE(second.isRunning());
}

TEST_F(ServerTest, DestroyingARunningServerClosesItsConnections) {
    RawHttpClient idle(port);
    RawHttpClient busy(port);
    busy.send("GET /slow HTTP/1.1\r\n\r\n");
    RawHttpClient partial(port);
    partial.send("POST /echo HTTP/1.1\r\nContent-Length: 100\r\n\r\nab");
    ASSERT_TRUE(waitForConnections(3));
    server.reset();
    EXPECT_TRUE(idle.closedByServer());
    EXPECT_TRUE(partial.closedByServer());
}

TEST_F(ServerTest, ConcurrentStartAndStopStayConsistent) {
    std::atomic<bool> done{false};
    std::thread client([&] {
        while (!done)
            if (const int now = server->port()) RawHttpClient(now).send("GET /hello HTTP/1.1\r\n\r\n");
    });
    std::vector<std::thread> controllers;
    for (int t = 0; t < 3; ++t)
        controllers.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) (i + t) % 2 ? server->stop() : server->start();
        });
    for (auto& controller : controllers) controller.join();
    done = true;
    client.join();
    server->start();
    port = server->port();
    EXPECT_EQ(hello(), "hello");
}

TEST_F(ServerTest, RunningOutOfDescriptorsDoesNotStopTheServer) {
    rlimit original{};
    getrlimit(RLIMIT_NOFILE, &original);
    rlimit tight = original;
    tight.rlim_cur = std::size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})) + 8;
    std::vector<std::unique_ptr<RawHttpClient>> clients;
    setrlimit(RLIMIT_NOFILE, &tight);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) clients.push_back(std::make_unique<RawHttpClient>(port));
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // accept fails meanwhile
    for (int fd : fillers) close(fd);
    setrlimit(RLIMIT_NOFILE, &original);
    EXPECT_TRUE(server->isRunning());
    for (auto& client : clients) {
        client->send("GET /hello HTTP/1.1\r\n\r\n");
        EXPECT_EQ(parseAnswer(client->readAll()).body, "hello");
    }
}

TEST(Lifecycle, ConnectionThreadsRunAtTheAddedNiceness) {
    const auto niceness = [] { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); };
    const int before = niceness();
    HttpServerConfig config = quickConfig();
    config.connectionNiceness = 5;
    HttpServer server(config);
    server.GET["/nice"] = [&](const HttpRequest&) {
        return HttpResponse::ok(HttpResponseBody::text(std::to_string(niceness())));
    };
    server.start();
    for (int round = 0; round < 2; ++round)  // every connection, not only the first
        EXPECT_EQ(parseAnswer(testsupport::exchangeRaw(server.port(), "GET /nice HTTP/1.1\r\n\r\n")).body,
                  std::to_string(std::min(before + 5, 19)));
    EXPECT_EQ(niceness(), before);
}

}  // namespace
