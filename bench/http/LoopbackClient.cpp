#include "LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

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

// Reads one whole response (head plus Content-Length bytes); true when it
// says 200. False on close or a malformed head.
bool readResponse(int fd) {
    std::string buffer;
    char chunk[16384];
    for (;;) {
        const auto headEnd = buffer.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            std::string head = buffer.substr(0, headEnd);
            std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
            const auto lengthAt = head.find("content-length:");
            const std::size_t length = lengthAt == std::string::npos ? 0 : std::strtoul(head.c_str() + lengthAt + 15, nullptr, 10);
            if (buffer.size() >= headEnd + 4 + length) return head.rfind("http/1.1 200", 0) == 0;
        }
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace

int connectLoopback(int port, unsigned source) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = source;
    if (source != 0 && bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        close(fd);
        return -1;
    }
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

bool getOnce(int port, const std::string& path, int timeoutSeconds) {
    const int fd = connectLoopback(port);
    if (fd < 0) return false;
    const timeval limit{timeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    const bool ok = sendAll(fd, request.data(), request.size()) && readResponse(fd);
    close(fd);
    return ok;
}

double upload(int port, const std::string& head, std::size_t size) {
    const int fd = connectLoopback(port);
    if (fd < 0) return -1;
    const std::string chunk(1 << 20, 'u');
    const auto start = std::chrono::steady_clock::now();
    bool ok = sendAll(fd, head.data(), head.size());
    for (std::size_t sent = 0; ok && sent < size; sent += chunk.size())
        ok = sendAll(fd, chunk.data(), std::min(chunk.size(), size - sent));
    ok = ok && readResponse(fd);
    close(fd);
    return ok ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() : -1;
}

}  // namespace bench
