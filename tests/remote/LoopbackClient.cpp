#include "remote/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace {

int connectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
    return fd;
}

void sendAll(int fd, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("send failed");
        sent += std::size_t(n);
    }
}

std::string receiveAll(int fd) {
    std::string bytes;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) bytes.append(buffer, std::size_t(n));
    return bytes;
}

LoopbackAnswer parse(const std::string& bytes) {
    LoopbackAnswer answer;
    const std::size_t headEnd = bytes.find("\r\n\r\n");
    if (headEnd == std::string::npos) return answer;
    const std::string head = bytes.substr(0, headEnd);
    answer.body = bytes.substr(headEnd + 4);
    answer.statusCode = std::stoi(head.substr(head.find(' ') + 1, 3));
    for (std::size_t start = head.find("\r\n"); start != std::string::npos;) {
        const std::size_t end = head.find("\r\n", start + 2);
        const std::string line = head.substr(start + 2, end == std::string::npos ? end : end - start - 2);
        const std::size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        answer.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
        start = end;
    }
    return answer;
}

}  // namespace

LoopbackAnswer exchange(int port, const std::string& method, const std::string& target,
                        const std::map<std::string, std::string>& headers, const std::string& body) {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    const int fd = connectLoopback(port);
    sendAll(fd, request);
    const std::string received = receiveAll(fd);
    ::close(fd);
    return parse(received);
}

std::string multipartBody(const std::string& boundary,
                          const std::initializer_list<std::pair<std::string, std::string>>& parts) {
    std::string body;
    for (const auto& [name, content] : parts) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
                "\"; filename=\"upload.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}
