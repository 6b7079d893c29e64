#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace http::test {

// Sanitizer builds run several times slower; time bounds scale with this.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int slowdown = 10;
#else
constexpr int slowdown = 1;
#endif

// A raw loopback client for driving the server byte by byte.
class TestClient {
public:
    explicit TestClient(int port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // False when the peer has gone.
    bool send(std::string_view bytes);
    void shutdownWrite();
    void close();
    // Everything until the server closes (or the time-out).
    std::string readAll();
    // One response: head plus Content-Length bytes; empty on close.
    std::string readResponse();
    // True when the server closed the connection (reads end of stream or
    // reset) within the time-out.
    bool closedByServer();

private:
    int fd_ = -1;
    std::string pending_;
};

struct ParsedResponse {
    int status = 0;
    std::string reason;
    std::map<std::string, std::string> headers;
    std::string body;
};
ParsedResponse parseResponse(const std::string& raw);

// Open descriptors and threads of this process.
std::size_t openDescriptorCount();
std::size_t threadCount();
// Waits until `probe` gives at most `limit`.
bool settlesTo(std::size_t (*probe)(), std::size_t limit, std::chrono::milliseconds within = std::chrono::seconds(3));

}  // namespace http::test
