#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <thread>

namespace testsupport {
// An HTTP answer taken apart; header names lower-cased.
struct HttpAnswer {
    int status = 0;
    std::string reason;
    std::map<std::string, std::string> headers;
    std::string body;
};
HttpAnswer parseAnswer(const std::string& raw);

// A raw loopback TCP client that sends bytes exactly as given (tests and benchmarks).
class RawHttpClient {
public:
    explicit RawHttpClient(int port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~RawHttpClient() { close(); }
    RawHttpClient(const RawHttpClient&) = delete;
    RawHttpClient& operator=(const RawHttpClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool send(std::string_view bytes);  // false when the peer has gone
    void shutdownWrite();
    void close();
    std::string readAll();       // until the server closes (or the time-out)
    std::string readResponse();  // one answer: head plus Content-Length bytes; empty on close
    bool closedByServer();       // within the time-out

private:
    int fd_ = -1;
    std::string pending_;
};

// `request` on a new connection; everything until close.
std::string exchangeRaw(int port, std::string_view request);
// A request with "Connection: close" and a Content-Length.
HttpAnswer request(int port, const std::string& method, const std::string& target,
                   const std::map<std::string, std::string>& headers = {}, const std::string& body = {});

// `curl -sS --max-time 20 ARGUMENTS` (a shell command line): its exit code and standard output.
std::pair<int, std::string> curl(const std::string& arguments);

// Waits until the server holds `count` connections; false after 10 s.
template <class Server> bool waitForConnections(const Server& server, std::size_t count) {
    for (int i = 0; i < 2000 && server.connectionCount() != count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return server.connectionCount() == count;
}
}  // namespace testsupport
