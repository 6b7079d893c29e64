#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "ServerFixture.h"
#include "http/SocketError.h"

using namespace http;
using namespace http::test;

namespace {

std::string hello(int port) {
    TestClient client(port);
    client.send("GET /hello HTTP/1.1\r\n\r\n");
    return parseResponse(client.readAll()).body;
}

std::unique_ptr<HttpServer> makeServer(HttpServerConfig config = quickConfig()) {
    auto server = std::make_unique<HttpServer>(std::move(config));
    addTestRoutes(*server);
    return server;
}

}  // namespace

TEST(ServerLifecycle, NotStartedServerHasPortZero) {
    HttpServer server;
    EXPECT_EQ(server.port(), 0);
    EXPECT_FALSE(server.isRunning());
    server.stop();
}

TEST(ServerLifecycle, ListensOnAGivenPort) {
    const int free = Socket::tcpSocketForListen(0, 1, "127.0.0.1").port();
    auto server = makeServer();
    server->start(static_cast<uint16_t>(free));
    EXPECT_EQ(server->port(), free);
    EXPECT_EQ(hello(free), "hello");
}

TEST(ServerLifecycle, StopClosesEverythingAndRestartWorks) {
    auto server = makeServer();
    server->start();
    const int first = server->port();
    EXPECT_TRUE(server->isRunning());
    TestClient idle(first);
    TestClient busy(first);
    busy.send("GET /slow HTTP/1.1\r\n\r\n");
    idle.send("GET /hello HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    idle.readResponse();
    server->stop();
    EXPECT_FALSE(server->isRunning());
    EXPECT_EQ(server->port(), 0);
    EXPECT_EQ(server->connectionCount(), 0u);
    EXPECT_TRUE(idle.closedByServer());
    EXPECT_FALSE(TestClient(first).connected());
    server->start();
    EXPECT_EQ(hello(server->port()), "hello");
}

TEST(ServerLifecycle, StartFailureIsReported) {
    Socket taken = Socket::tcpSocketForListen(0, 1, "127.0.0.1");
    auto server = makeServer();
    EXPECT_THROW(server->start(static_cast<uint16_t>(taken.port())), SocketError);
    EXPECT_FALSE(server->isRunning());
}

TEST(ServerLifecycle, DestroyingARunningServerWithOpenConnections) {
    auto server = makeServer();
    server->start();
    TestClient idle(server->port());
    TestClient busy(server->port());
    busy.send("GET /slow HTTP/1.1\r\n\r\n");
    TestClient partial(server->port());
    partial.send("POST /echo HTTP/1.1\r\nContent-Length: 100\r\n\r\nab");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.reset();
    EXPECT_TRUE(idle.closedByServer());
    EXPECT_TRUE(partial.closedByServer());
}

TEST(ServerLifecycle, ConcurrentStartAndStopStayConsistent) {
    auto server = makeServer();
    std::atomic<bool> done{false};
    std::thread client([&] {
        while (!done) {
            const int port = server->port();
            if (port != 0) TestClient(port).send("GET /hello HTTP/1.1\r\n\r\n");
        }
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
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(hello(server->port()), "hello");
}

TEST(ServerLifecycle, RunningOutOfDescriptorsDoesNotStopTheServer) {
    auto server = makeServer();
    server->start();
    const int port = server->port();
    // Sockets made now and connected once no descriptor is left to accept with.
    std::vector<int> clients;
    for (int i = 0; i < 3; ++i) clients.push_back(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    rlimit original{};
    getrlimit(RLIMIT_NOFILE, &original);
    rlimit tight = original;
    tight.rlim_cur = openDescriptorCount() + 8;
    setrlimit(RLIMIT_NOFILE, &tight);
    std::vector<int> fillers;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
    ASSERT_EQ(errno, EMFILE);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int fd : clients) ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // accept fails meanwhile
    // An accept already blocked before the limit holds its descriptor
    // reservation, so at most one client gets in; the others fail to accept.
    EXPECT_LE(server->connectionCount(), 1u);
    for (int fd : fillers) close(fd);
    setrlimit(RLIMIT_NOFILE, &original);
    EXPECT_TRUE(server->isRunning());
    for (int fd : clients) {
        const std::string request = "GET /hello HTTP/1.1\r\n\r\n";
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        timeval timeout{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char buffer[512];
        const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_WAITALL);
        EXPECT_EQ(parseResponse(std::string(buffer, got > 0 ? std::size_t(got) : 0)).body, "hello");
        close(fd);
    }
}

TEST(ServerLifecycle, AbuseLeaksNoThreadsOrDescriptors) {
    const auto descriptors = openDescriptorCount();
    const auto threads = threadCount();
    {
        auto server = makeServer();
        server->start();
        const int port = server->port();
        std::vector<std::unique_ptr<TestClient>> idle;
        for (int i = 0; i < 20; ++i) idle.push_back(std::make_unique<TestClient>(port));
        for (const std::string& request : std::vector<std::string>{
                 "GET /\r\n\r\n", "GET /hello HTTP/1.1\r\nContent-Length: x\r\n\r\n", "GET /hel",
              "PUT /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
              "GET /" + std::string(5000, 'a') + " HTTP/1.1\r\n\r\n", "GET /hello HTTP/1.1\r\n\r\n"}) {
            TestClient client(port);
            client.send(request);
            client.readAll();
        }
        TestClient gone(port);
        gone.send("GET /slow HTTP/1.1\r\n\r\n");
        gone.close();
        EXPECT_EQ(hello(port), "hello");
        server->stop();
        idle.clear();
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_TRUE(settlesTo(threadCount, threads));
    EXPECT_EQ(threadCount(), threads);
}

// Connection threads run at the added niceness; the rest of the process keeps its own.
TEST(ServerLifecycle, ConnectionThreadsRunAtTheAddedNiceness) {
    const int before = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    HttpServerConfig config = quickConfig();
    config.connectionNiceness = 5;
    HttpServer server(config);
    server.GET["/nice"] = [](const HttpRequest&) {
        return HttpResponse::ok(HttpResponseBody::text(
            std::to_string(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())))));
    };
    server.start();
    for (int round = 0; round < 2; ++round) {  // every connection, not only the first
        TestClient client(server.port());
        client.send("GET /nice HTTP/1.1\r\n\r\n");
        EXPECT_EQ(parseResponse(client.readAll()).body, std::to_string(std::min(before + 5, 19)));
    }
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), before);
    server.stop();
}
