#include "support/RawHttpClient.h"
#include <arpa/inet.h>
#include <sys/wait.h>
#include <netinet/tcp.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <utility>

namespace testsupport {
// Calls on a socket with a time-out are not restarted after a signal (a child process ending).
static ssize_t receive(int fd, char* buffer, std::size_t size) {
    ssize_t got;
    do got = recv(fd, buffer, size, 0);
    while (got < 0 && errno == EINTR);
    return got;
}

RawHttpClient::RawHttpClient(int port, std::chrono::milliseconds timeout) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const timeval value{time_t(timeout.count() / 1000), suseconds_t(timeout.count() % 1000 * 1000)};
    const int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(uint16_t(port)), .sin_addr = {htonl(INADDR_LOOPBACK)}};
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) close();
}

bool RawHttpClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes.remove_prefix(std::size_t(sent));
    }
    return true;
}

void RawHttpClient::shutdownWrite() { shutdown(fd_, SHUT_WR); }

void RawHttpClient::close() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

std::string RawHttpClient::readAll() {
    char buffer[65536];
    for (ssize_t got; (got = receive(fd_, buffer, sizeof buffer)) > 0;) pending_.append(buffer, std::size_t(got));
    return std::exchange(pending_, {});
}

std::string RawHttpClient::readResponse() {
    char buffer[65536];
    for (ssize_t got;; pending_.append(buffer, std::size_t(got))) {
        if (const auto headEnd = pending_.find("\r\n\r\n"); headEnd != std::string::npos) {
            const auto headers = parseAnswer(pending_.substr(0, headEnd + 4)).headers;
            const std::size_t size = headEnd + 4 + (headers.count("content-length") ? std::stoul(headers.at("content-length")) : 0);
            if (pending_.size() >= size) return std::exchange(pending_, pending_.substr(size)).substr(0, size);
        }
        if ((got = receive(fd_, buffer, sizeof buffer)) <= 0) return {};
    }
}

bool RawHttpClient::closedByServer() {
    char byte;
    const ssize_t got = receive(fd_, &byte, 1);
    return got == 0 || (got < 0 && errno == ECONNRESET);
}

HttpAnswer parseAnswer(const std::string& raw) {
    HttpAnswer answer;
    const auto headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos) return answer;
    std::size_t lineEnd = raw.find("\r\n");
    answer.status = std::stoi(raw.substr(9, 3));
    answer.reason = raw.substr(13, lineEnd - 13);
    while (lineEnd < headEnd) {
        const std::size_t next = raw.find("\r\n", lineEnd + 2);
        const std::string line = raw.substr(lineEnd + 2, next - lineEnd - 2);
        std::string name = line.substr(0, line.find(':'));
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        const auto value = line.find_first_not_of(' ', name.size() + 1);
        if (name.size() < line.size()) answer.headers[name] = value == std::string::npos ? "" : line.substr(value);
        lineEnd = next;
    }
    answer.body = raw.substr(headEnd + 4);
    return answer;
}

std::string exchangeRaw(int port, std::string_view request) {
    RawHttpClient client(port);
    client.send(request);
    return client.readAll();
}

HttpAnswer request(int port, const std::string& method, const std::string& target,
                   const std::map<std::string, std::string>& headers, const std::string& body) {
    std::string text = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (const auto& [name, value] : headers) text += name + ": " + value + "\r\n";
    return parseAnswer(exchangeRaw(port, text + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
}

std::pair<int, std::string> curl(const std::string& arguments) {
    std::string output;
    FILE* pipe = popen(("curl -sS --max-time 20 " + arguments + " 2>/dev/null").c_str(), "r");
    for (char buffer[4096]; std::size_t got = fread(buffer, 1, sizeof buffer, pipe);) output.append(buffer, got);
    return {WEXITSTATUS(pclose(pipe)), output};
}
}  // namespace testsupport
