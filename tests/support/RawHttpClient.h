#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>

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

}  // namespace testsupport
