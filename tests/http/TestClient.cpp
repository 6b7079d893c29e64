#include "TestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace http::test {

TestClient::TestClient(int port, std::chrono::milliseconds timeout) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval value{static_cast<time_t>(timeout.count() / 1000), static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) close();
}

TestClient::~TestClient() { close(); }

bool TestClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void TestClient::shutdownWrite() { shutdown(fd_, SHUT_WR); }

void TestClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string TestClient::readAll() {
    std::string all = std::move(pending_);
    pending_.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) return all;
        all.append(buffer, static_cast<std::size_t>(got));
    }
}

std::string TestClient::readResponse() {
    char buffer[65536];
    for (;;) {
        const auto headEnd = pending_.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            const auto parsed = parseResponse(pending_.substr(0, headEnd + 4));
            const auto length = parsed.headers.count("Content-Length") ? std::stoul(parsed.headers.at("Content-Length")) : 0;
            if (pending_.size() >= headEnd + 4 + length) {
                std::string response = pending_.substr(0, headEnd + 4 + length);
                pending_.erase(0, response.size());
                return response;
            }
        }
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) return {};
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

bool TestClient::closedByServer() {
    char byte;
    const ssize_t got = recv(fd_, &byte, 1, 0);
    return got == 0 || (got < 0 && errno == ECONNRESET);
}

ParsedResponse parseResponse(const std::string& raw) {
    ParsedResponse response;
    const auto headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos) return response;
    std::size_t lineEnd = raw.find("\r\n");
    const std::string statusLine = raw.substr(0, lineEnd);
    const auto firstSpace = statusLine.find(' ');
    const auto secondSpace = statusLine.find(' ', firstSpace + 1);
    response.status = std::stoi(statusLine.substr(firstSpace + 1, secondSpace - firstSpace - 1));
    response.reason = statusLine.substr(secondSpace + 1);
    while (lineEnd < headEnd) {
        const std::size_t next = raw.find("\r\n", lineEnd + 2);
        const std::string line = raw.substr(lineEnd + 2, next - lineEnd - 2);
        const auto colon = line.find(": ");
        if (colon != std::string::npos) response.headers[line.substr(0, colon)] = line.substr(colon + 2);
        lineEnd = next;
    }
    response.body = raw.substr(headEnd + 4);
    return response;
}

namespace {

std::size_t countEntries(const char* directory) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++count;
    return count;
}

}  // namespace

std::size_t openDescriptorCount() { return countEntries("/proc/self/fd"); }
std::size_t threadCount() { return countEntries("/proc/self/task"); }

bool settlesTo(std::size_t (*probe)(), std::size_t limit, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (probe() > limit) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace http::test
