#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/Socket.h"

namespace http::fuzz {

// Inputs larger than this are cut, so that one send always fits the socket
// buffer and no writer thread is needed.
constexpr std::size_t maxInput = 64 * 1024;

inline std::string_view input(const uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size < maxInput ? size : maxInput};
}

// Stops the run with a crash the fuzzer records when an invariant breaks.
inline void require(bool condition) {
    if (!condition) std::abort();
}

// A connected socket whose peer has sent `bytes` and then closed its sending
// side, so the parser reads exactly these bytes and then meets end of stream.
class SocketFeed {
public:
    explicit SocketFeed(std::string_view bytes) {
        int fds[2];
        require(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
        socket_ = Socket(fds[0]);
        peer_ = fds[1];
        const int bufferSize = 4 * maxInput;
        setsockopt(peer_, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize);
        require(bytes.empty() || send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()));
        shutdown(peer_, SHUT_WR);
    }
    ~SocketFeed() { close(peer_); }
    SocketFeed(const SocketFeed&) = delete;
    SocketFeed& operator=(const SocketFeed&) = delete;

    Socket& socket() { return socket_; }

private:
    Socket socket_;
    int peer_ = -1;
};

}  // namespace http::fuzz
