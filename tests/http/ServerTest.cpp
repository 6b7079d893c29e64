// The server on a loopback port, driven byte by byte and by curl: connections, refusals, time-outs, abuse, start
// and stop.
#include "http/HttpServer.h"
#include "support/RawHttpClient.h"
#include <gtest/gtest.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace http;
using testsupport::parseAnswer;
using testsupport::RawHttpClient;

namespace {
HttpServerConfig quickConfig() {
    return {.bindAddress = "127.0.0.1",.limits = {.maxLineLength = 1024, .maxHeaderCount = 20, .maxBodySize = 64 << 20,
                       .headTimeout = std::chrono::milliseconds(1000)}, .maxBufferedBody = 4 << 20,
            .idleTimeout = std::chrono::milliseconds(1500), .maxConnections = 64,
            .acceptRetryDelay = std::chrono::milliseconds(10), .drainTime = std::chrono::milliseconds(100)};
}

std::string get(const std::string& path, const std::string& extra = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
}
const std::string keepAlive = "Connection: keep-alive\r\n";

// To compare uploads without echoing them.
std::string checksum(const std::string& bytes) {
    return std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>{}(bytes));
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { startServer(quickConfig()); }
    void startServer(HttpServerConfig config) {
        server = std::make_unique<HttpServer>(std::move(config));
        server->GET["/hello"] = [](const HttpRequest&) { return HttpResponse::ok(HttpResponseBody::text("hello")); };
        for (auto* method : {&server->POST, &server->PUT})
            (*method)["/echo"] = [](const HttpRequest& r) { return HttpResponse::ok(HttpResponseBody::text(r.body)); };
        server->GET["/query"] = [](const HttpRequest& request) {
            return HttpResponse::ok(HttpResponseBody::text(request.url.substr(request.url.find('?') + 1) + ";"));
        };
        server->GET["/slow"] = [](const HttpRequest&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return HttpResponse::ok(HttpResponseBody::text(std::string(8 << 20, 's')));
        };
        server->PUT["/upload"] = [](const HttpRequest& request) { return HttpResponse::ok(HttpResponseBody::text(checksum(request.body))); };
        server->POST["/upload"] = [](const HttpRequest& request) {
            std::string listing;
            for (const auto& part : request.parseMultiPartFormData()) listing += part.name().value_or("?") + "=" + checksum(std::string(part.body)) + "\n";
            return HttpResponse::ok(HttpResponseBody::text(listing));
        };
        server->start();
        port = server->port();
    }
    bool waitForConnections(std::size_t count) { return testsupport::waitForConnections(*server, count); }
    std::string exchange(const std::string& request) { return testsupport::exchangeRaw(port, request); }
    std::string hello() { return parseAnswer(exchange(get("/hello"))).body; }
    std::string curl(const std::string& arguments) { return testsupport::curl(arguments).second; }
    std::string url(const std::string& path) { return " http://127.0.0.1:" + std::to_string(port) + path; }
    std::unique_ptr<HttpServer> server;
    int port = 0;
};

TEST_F(ServerTest, PipelinedRequestsAreAnsweredInOrderUntilOneCloses) {
    RawHttpClient client(port);
    client.send(get("/query?n=1", keepAlive) + get("/query?n=2") + get("/query?n=3"));
    EXPECT_EQ(parseAnswer(client.readResponse()).headers.at("connection"), "keep-alive");
    const auto last = parseAnswer(client.readResponse());
    EXPECT_EQ(last.body + " " + last.headers.at("connection"), "n=2; close");
    EXPECT_TRUE(client.closedByServer());
}

// curl sends a large upload after "Expect: 100-continue" (waiting longer than its --max-time for the answer) and
// reuses a kept-alive connection (chunked bodies: the reader's tests and the fuzz corpus).
TEST_F(ServerTest, CurlUploadsAndReusesConnections) {
    std::string data(3 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7919) >> 3);
    const std::string file = std::filesystem::temp_directory_path() / "curl-upload";
    std::ofstream(file, std::ios::binary) << data;
    EXPECT_EQ(curl("--expect100-timeout 60 -F field=value -F image=@" + file + url("/upload")), "field=" + checksum("value") + "\nimage=" + checksum(data) + "\n");
    EXPECT_EQ(curl("-H 'Connection: keep-alive' -w ' %{num_connects}\\n'" + url("/hello") + url("/hello")), "hello 1\nhello 0\n");
    EXPECT_EQ(curl("-w ' %{num_connects}\\n'" + url("/hello") + url("/hello")), "hello 1\nhello 1\n");
}

// A refused request is answered with its status (the reader's refusal table) and the connection closed; a bad
// request line gets no answer; a handler's exception is a 500.
TEST_F(ServerTest, RefusedRequestsAreAnsweredAndClosed) {
    server->GET["/throw"] = [](const HttpRequest&) -> HttpResponse { throw std::runtime_error("handler bug"); };
    const std::vector<std::pair<std::string, std::string>> cases{
        {get("/" + std::string(2000, 'a')), "431 Request Header Fields Too Large"}, {"GET /\r\n\r\n", ""},
        {get("/throw"), "500 Internal Server Error"},
        // Beyond the buffered-body limit, though within the body limit: refused on the head, or on the chunk's size.
        {"PUT /echo HTTP/1.1\r\nContent-Length: 4194305\r\n\r\n", "413 Payload Too Large"},
        {"PUT /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n100\r\n" + std::string(256, 'x') + "\r\n400001\r\n",
         "413 Payload Too Large"}};
    testing::internal::CaptureStdout();
    for (const auto& [request, status] : cases) {
        const std::string answer = exchange(request + get("/hello"));
        EXPECT_EQ(answer.empty() ? "" : answer.substr(9, answer.find("\r\n") - 9), status) << request.substr(0, 40);
        EXPECT_EQ(answer.find("hello"), std::string::npos);
    }
    EXPECT_NE(testing::internal::GetCapturedStdout().find("handler bug"), std::string::npos);
    RawHttpClient client(port);  // answered while the client still sends
    client.send("PUT /echo HTTP/1.1\r\nContent-Length: 500000000\r\n\r\n");
    std::thread sender([&] { client.send(std::string(4 << 20, 'x')); });
    EXPECT_EQ(parseAnswer(client.readResponse()).status, 413);
    client.shutdownWrite();
    sender.join();
}

// A length within the limit but beyond memory: refused, not a crash (unless the kernel grants any allocation or a
// sanitizer ends the process instead of throwing std::bad_alloc).
TEST_F(ServerTest, BodyTooLargeForMemoryIsRefused) {
    int overcommit = 0;
    std::ifstream("/proc/sys/vm/overcommit_memory") >> overcommit;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    overcommit = 1;
#endif
    if (overcommit == 1) GTEST_SKIP() << "no std::bad_alloc to see";
    auto config = quickConfig();
    config.limits.maxBodySize = config.maxBufferedBody = std::uint64_t{1} << 50;
    startServer(config);
    EXPECT_EQ(parseAnswer(exchange("PUT /echo HTTP/1.1\r\nContent-Length: " + std::to_string(std::uint64_t{1} << 49) +
                                   "\r\n\r\n" + std::string(1 << 20, 'x'))).status, 413);
    EXPECT_EQ(hello(), "hello");
}

TEST_F(ServerTest, ClientsLeavingMidRequestOrBeforeTheAnswerLeaveTheServerServing) {
    for (const std::string partial : {"GET /hel", "POST /echo HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc",
                                      "PUT /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nab"})
        RawHttpClient(port).send(partial);
    testing::internal::CaptureStdout();
    {
        RawHttpClient leaving(port);
        leaving.send(get("/slow"));
        ASSERT_TRUE(waitForConnections(1));
    }
    EXPECT_TRUE(waitForConnections(0));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("Failed to send response: writeFailed(\""), std::string::npos) << output;
    EXPECT_EQ(hello(), "hello");
}

TEST_F(ServerTest, IdleAndTricklingClientsAreClosedButSlowBodiesServed) {
    RawHttpClient silent(port), afterOne(port), halfHeader(port);
    afterOne.send(get("/hello", keepAlive));
    EXPECT_EQ(parseAnswer(afterOne.readResponse()).body, "hello");
    halfHeader.send("GET /hello HTTP/1.1\r\n");
    EXPECT_TRUE(silent.closedByServer() && afterOne.closedByServer() && halfHeader.closedByServer());
    // A byte well inside the idle time-out each time, but the head never ends: the head deadline closes it.
    RawHttpClient slowloris(port);
    bool open = slowloris.send("GET /hello HTTP/1.1\r\n");
    for (int i = 0; i < 300 && open; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(100))) open = slowloris.send("X");
    EXPECT_FALSE(open);
    EXPECT_TRUE(waitForConnections(0));
    // A body sent over 1.5 s is not bound by the 1 s head deadline.
    RawHttpClient slowBody(port);
    slowBody.send("POST /echo HTTP/1.1\r\nContent-Length: 15\r\n\r\n");
    for (int i = 0; i < 15; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(100))) ASSERT_TRUE(slowBody.send("b"));
    EXPECT_EQ(parseAnswer(slowBody.readResponse()).body, std::string(15, 'b'));
}

TEST_F(ServerTest, FloodsAreCappedAndManyClientsServedAtOnce) {
    auto config = quickConfig();
    config.maxConnections = 8;
    config.placesForNewAddresses = 0;  // this one address may take them all
    config.idleTimeout = std::chrono::milliseconds(1000);
    startServer(config);
    std::vector<std::unique_ptr<RawHttpClient>> flood;
    for (int i = 0; i < 8; ++i) flood.push_back(std::make_unique<RawHttpClient>(port));
    ASSERT_TRUE(waitForConnections(8));
    const auto refused = parseAnswer(exchange(get("/hello")));  // at once, not queued
    EXPECT_EQ(std::to_string(refused.status) + " " + refused.reason, "503 Service Unavailable");
    for (auto& client : flood) EXPECT_TRUE(client->closedByServer());
    std::vector<std::thread> clients;
    std::atomic<int> served{0};
    for (int i = 0; i < 8; ++i)
        clients.emplace_back([&] {
            RawHttpClient client(port);
            for (int k = 0; k < 20; ++k) {
                client.send(get("/query?k=" + std::to_string(k), keepAlive));
                served += parseAnswer(client.readResponse()).body == "k=" + std::to_string(k) + ";";
            }
        });
    for (auto& client : clients) client.join();
    EXPECT_EQ(served, 8 * 20);
}

TEST_F(ServerTest, StopOrDestructionClosesEverything) {
    RawHttpClient idle(port), busy(port);
    busy.send(get("/slow"));
    idle.send(get("/hello", keepAlive));
    idle.readResponse();
    server->stop();
    EXPECT_FALSE(server->isRunning());
    EXPECT_EQ(server->port() + server->connectionCount(), 0u);
    EXPECT_TRUE(idle.closedByServer());
    EXPECT_FALSE(RawHttpClient(port).connected());
    server->start();
    RawHttpClient partial(server->port());
    partial.send("POST /echo HTTP/1.1\r\nContent-Length: 100\r\n\r\nab");
    ASSERT_TRUE(waitForConnections(1));
    server.reset();  // destroyed while running
    EXPECT_TRUE(partial.closedByServer());
}

TEST_F(ServerTest, RunningOutOfDescriptorsDoesNotStopTheServer) {
    rlimit original{};
    getrlimit(RLIMIT_NOFILE, &original);
    rlimit tight{std::size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})) + 8, original.rlim_max};
    setrlimit(RLIMIT_NOFILE, &tight);
    std::vector<std::unique_ptr<RawHttpClient>> clients;
    for (int i = 0; i < 3; ++i) clients.push_back(std::make_unique<RawHttpClient>(port));
    std::vector<int> fillers;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // accept fails meanwhile
    for (int fd : fillers) close(fd);
    setrlimit(RLIMIT_NOFILE, &original);
    for (auto& client : clients) EXPECT_TRUE(client->send(get("/hello")) && parseAnswer(client->readAll()).body == "hello");
}

TEST(Server, ConnectionThreadsRunAtTheAddedNiceness) {
    const auto niceness = [] { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); };
    const int before = niceness();
    HttpServerConfig config = quickConfig();
    config.connectionNiceness = 5;
    HttpServer server(config);
    server.GET["/nice"] = [&](const HttpRequest&) { return HttpResponse::ok(HttpResponseBody::text(std::to_string(niceness()))); };
    server.start();
    for (int round = 0; round < 2; ++round)  // every connection, not only the first
        EXPECT_EQ(parseAnswer(testsupport::exchangeRaw(server.port(), get("/nice"))).body, std::to_string(std::min(before + 5, 19)));
    EXPECT_EQ(niceness(), before);
}
}  // namespace
