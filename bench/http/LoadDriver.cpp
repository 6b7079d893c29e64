#include "LoadDriver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace bench {

namespace {

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Reads one whole response (head plus Content-Length bytes) into `buffer`,
// which keeps any bytes that follow. False on close or a malformed head.
bool readResponse(int fd, std::string& buffer, bool& serverCloses) {
    char chunk[16384];
    for (;;) {
        const auto headEnd = buffer.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            std::string head = buffer.substr(0, headEnd);
            std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
            const auto lengthAt = head.find("content-length:");
            const std::size_t length = lengthAt == std::string::npos ? 0 : std::strtoul(head.c_str() + lengthAt + 15, nullptr, 10);
            serverCloses = head.find("connection: close") != std::string::npos || head.rfind("http/1.0", 0) == 0;
            if (buffer.size() >= headEnd + 4 + length) {
                buffer.erase(0, headEnd + 4 + length);
                return head.rfind("http/1.1 200", 0) == 0;
            }
        }
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace

int connectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct LoadDriver::ClientStats {
    std::size_t requests = 0;
    std::size_t failures = 0;
    std::vector<float> latencies;  // milliseconds
};

void LoadDriver::client(std::chrono::steady_clock::time_point until, ClientStats& stats) const {
    int fd = -1;
    std::string buffer;
    while (std::chrono::steady_clock::now() < until) {
        if (fd < 0) {
            fd = connectLoopback(port_);
            buffer.clear();
            if (fd < 0) {
                ++stats.failures;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
        }
        const auto start = std::chrono::steady_clock::now();
        bool serverCloses = false;
        if (!sendAll(fd, request_.data(), request_.size()) || !readResponse(fd, buffer, serverCloses)) {
            ++stats.failures;
            close(fd);
            fd = -1;
            continue;
        }
        stats.latencies.push_back(std::chrono::duration<float, std::milli>(std::chrono::steady_clock::now() - start).count());
        ++stats.requests;
        if (serverCloses) {
            close(fd);
            fd = -1;
        }
    }
    if (fd >= 0) close(fd);
}

LoadResult LoadDriver::run(std::size_t connections, std::chrono::milliseconds duration) const {
    std::vector<ClientStats> stats(connections);
    std::vector<std::thread> clients;
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + duration;
    for (auto& slot : stats) clients.emplace_back([this, until, &slot] { client(until, slot); });
    for (auto& thread : clients) thread.join();
    LoadResult result;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::vector<float> latencies;
    for (const auto& slot : stats) {
        result.requests += slot.requests;
        result.failures += slot.failures;
        latencies.insert(latencies.end(), slot.latencies.begin(), slot.latencies.end());
    }
    if (!latencies.empty()) {
        const auto p99 = latencies.begin() + static_cast<std::ptrdiff_t>(latencies.size() * 99 / 100);
        std::nth_element(latencies.begin(), p99, latencies.end());
        result.p99Milliseconds = *p99;
    }
    return result;
}

double LoadDriver::upload(const std::string& head, std::size_t size) const {
    const int fd = connectLoopback(port_);
    if (fd < 0) return -1;
    const std::string chunk(1 << 20, 'u');
    const auto start = std::chrono::steady_clock::now();
    bool ok = sendAll(fd, head.data(), head.size());
    for (std::size_t sent = 0; ok && sent < size; sent += chunk.size())
        ok = sendAll(fd, chunk.data(), std::min(chunk.size(), size - sent));
    std::string buffer;
    bool serverCloses = false;
    ok = ok && readResponse(fd, buffer, serverCloses);
    close(fd);
    return ok ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() : -1;
}

}  // namespace bench
