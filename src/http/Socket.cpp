#include "http/Socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "http/SocketError.h"
#include "http/StringHelpers.h"

namespace http {

namespace {

constexpr std::size_t bufferSize = 16 * 1024;
constexpr std::size_t bodyStep = 1024 * 1024;

using Kind = SocketError::Kind;

[[noreturn]] void closeAndThrow(int fd, Kind kind) {
    SocketError error = SocketError::fromErrno(kind);
    shutdown(fd, SHUT_RDWR);
    close(fd);
    throw error;
}

void setFlag(int fd, int level, int option) {
    const int one = 1;
    setsockopt(fd, level, option, &one, sizeof one);
}

timeval toTimeval(std::chrono::milliseconds timeout) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000);
    return value;
}

}  // namespace

Socket Socket::tcpSocketForListen(uint16_t port, int maxPendingConnection, const std::string& address) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw SocketError::fromErrno(Kind::socketCreationFailed);
    const int one = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        closeAndThrow(fd, Kind::socketSettingReUseAddrFailed);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        errno = EINVAL;
        closeAndThrow(fd, Kind::bindFailed);
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) closeAndThrow(fd, Kind::bindFailed);
    if (listen(fd, maxPendingConnection) != 0) closeAndThrow(fd, Kind::listenFailed);
    return Socket(fd);
}

Socket::Socket(Socket&& other) noexcept { *this = std::move(other); }

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this == &other) return *this;
    release();
    fd_ = std::exchange(other.fd_, -1);
    buffer_ = std::move(other.buffer_);
    begin_ = std::exchange(other.begin_, 0);
    end_ = std::exchange(other.end_, 0);
    receiveCalls_ = std::exchange(other.receiveCalls_, 0);
    timeout_ = std::exchange(other.timeout_, std::chrono::milliseconds(0));
    receiveTimeout_ = std::exchange(other.receiveTimeout_, std::chrono::milliseconds(0));
    deadline_ = std::exchange(other.deadline_, std::nullopt);
    secure_ = std::move(other.secure_);
    return *this;
}

int Socket::port() const {
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) return 0;
    return ntohs(addr.sin_port);
}

Socket Socket::acceptClientSocket() const {
    const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) throw SocketError::fromErrno(Kind::acceptFailed);
    setFlag(client, IPPROTO_TCP, TCP_NODELAY);
    return Socket(client);
}

void Socket::setTimeout(std::chrono::milliseconds timeout) {
    timeout_ = timeout;
    applyReceiveTimeout(timeout);
    const timeval value = toTimeval(timeout);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
}

void Socket::applyReceiveTimeout(std::chrono::milliseconds timeout) {
    receiveTimeout_ = timeout;
    const timeval value = toTimeval(timeout);
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
}

// Shortens the receive time-out when the deadline comes sooner (by more than
// an eighth, to spare a system call per request) and restores it afterwards.
void Socket::fitReceiveTimeoutToDeadline() {
    if (!deadline_) {
        if (receiveTimeout_ != timeout_) applyReceiveTimeout(timeout_);
        return;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0)) {
        errno = ETIMEDOUT;
        throw SocketError::fromErrno(Kind::recvFailed);
    }
    const bool unlimited = receiveTimeout_ == std::chrono::milliseconds(0);
    if (unlimited || left < receiveTimeout_ - receiveTimeout_ / 8) applyReceiveTimeout(left);
}

std::size_t Socket::receive(char* destination, std::size_t capacity) {
    return secure_ ? secure_->receive(*this, destination, capacity) : receiveRaw(destination, capacity);
}

std::size_t Socket::receiveRaw(char* destination, std::size_t capacity) {
    fitReceiveTimeoutToDeadline();
    ssize_t received;
    do {
        ++receiveCalls_;
        received = recv(fd_, destination, capacity, 0);
    } while (received < 0 && errno == EINTR);
    if (received < 0) throw SocketError::fromErrno(Kind::recvFailed);
    if (received == 0) throw SocketError(Kind::recvFailed, "Connection closed by peer");
    return static_cast<std::size_t>(received);
}

void Socket::fill() {
    if (buffer_.size() < bufferSize) buffer_.resize(bufferSize);
    begin_ = 0;
    end_ = receive(buffer_.data(), buffer_.size());
}

uint8_t Socket::read() {
    if (buffered() == 0) fill();
    return static_cast<uint8_t>(buffer_[begin_++]);
}

std::optional<std::string> Socket::readLine(std::size_t maxLength) {
    std::string line;
    std::size_t length = 0;  // raw bytes so far; a final carriage return is not counted
    char last = 0;
    for (;;) {
        if (buffered() == 0) fill();
        const char* start = buffer_.data() + begin_;
        const auto* newline = static_cast<const char*>(std::memchr(start, '\n', buffered()));
        const std::size_t take = newline ? static_cast<std::size_t>(newline - start) : buffered();
        length += take;
        if (take > 0) last = start[take - 1];
        if (length > maxLength + 1 || (newline && length - (last == '\r') > maxLength)) return std::nullopt;
        line.append(start, take);
        begin_ += take;
        if (newline) {
            ++begin_;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
    }
}

void Socket::readExactly(std::string& out, std::size_t count) {
    const std::size_t fromBuffer = std::min(count, buffered());
    out.append(buffer_, begin_, fromBuffer);
    begin_ += fromBuffer;
    std::size_t remaining = count - fromBuffer;
    if (remaining >= bufferSize) {
        // Address space for the whole length at once, so the body is never
        // copied while it grows; pages become resident only as bytes arrive.
        out.reserve(out.size() + remaining);
    }
    while (remaining > 0) {
        if (remaining < bufferSize) {
            fill();
            const std::size_t take = std::min(remaining, buffered());
            out.append(buffer_, begin_, take);
            begin_ += take;
            remaining -= take;
            continue;
        }
        // Large parts go straight into `out`, one step at a time.
        const std::size_t step = std::min(remaining, bodyStep);
        std::size_t filled = out.size();
        out.resize(filled + step);
        while (filled < out.size()) filled += receive(out.data() + filled, out.size() - filled);
        remaining -= step;
    }
}

std::size_t Socket::sendRaw(const char* source, std::size_t count) {
    ssize_t sent;
    do {
        sent = send(fd_, source, count, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent <= 0) throw SocketError::fromErrno(Kind::writeFailed);
    return static_cast<std::size_t>(sent);
}

// An encrypted answer that fits goes out as one record.
void Socket::writeSecure(std::string_view head, std::string_view body) {
    if (head.size() + body.size() > bufferSize) {
        secure_->send(*this, head);
        secure_->send(*this, body);
        return;
    }
    std::string joined;
    joined.reserve(head.size() + body.size());
    joined.append(head).append(body);
    secure_->send(*this, joined);
}

void Socket::write(std::string_view head, std::string_view body) {
    if (secure_) {
        writeSecure(head, body);
        return;
    }
    iovec parts[2] = {{const_cast<char*>(head.data()), head.size()}, {const_cast<char*>(body.data()), body.size()}};
    iovec* next = parts;
    int count = 2;
    while (count > 0) {
        if (next->iov_len == 0) {
            ++next;
            --count;
            continue;
        }
        msghdr message{};
        message.msg_iov = next;
        message.msg_iovlen = static_cast<std::size_t>(count);
        const ssize_t sent = sendmsg(fd_, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) throw SocketError::fromErrno(Kind::writeFailed);
        auto done = static_cast<std::size_t>(sent);
        while (count > 0 && done >= next->iov_len) {
            done -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + done;
            next->iov_len -= done;
        }
    }
}

std::string Socket::peername() const {
    sockaddr_storage addr{};
    socklen_t length = sizeof addr;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
        throw SocketError::fromErrno(Kind::getPeerNameFailed);
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<sockaddr*>(&addr), length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        throw SocketError::fromErrno(Kind::getNameInfoFailed);
    std::string text(host);
    if (!isValidUtf8(text)) throw SocketError(Kind::convertingPeerNameFailed, "");
    return text;
}

void Socket::shutdwn() const {
    if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
}

void Socket::closeSession() {
    if (auto stream = std::move(secure_)) stream->close(*this);
}

void Socket::release() {
    secure_.reset();
    if (fd_ < 0) return;
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    fd_ = -1;
}

void Socket::drain(std::chrono::milliseconds within) {
    if (fd_ < 0) return;
    closeSession();
    shutdown(fd_, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + within;
    setTimeout(within);
    char scratch[16 * 1024];
    while (std::chrono::steady_clock::now() < deadline && recv(fd_, scratch, sizeof scratch, 0) > 0) {
    }
}

}  // namespace http
