#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

namespace http {

class Socket;

// An encrypted session on a connected Socket. Once a socket holds one, its
// reads and writes carry plain bytes through it; the stream moves the
// ciphertext with the socket's receiveRaw() and sendRaw().
class SecureStream {
public:
    virtual ~SecureStream() = default;

    // Plain bytes into `destination`, at least one. Throws SocketError
    // (recvFailed), also when the peer closes.
    virtual std::size_t receive(Socket& socket, char* destination, std::size_t capacity) = 0;
    // Sends all of `bytes`. Throws SocketError(writeFailed).
    virtual void send(Socket& socket, std::string_view bytes) = 0;
    // Tells the peer the session ends; best effort, never throws.
    virtual void close(Socket& socket) noexcept = 0;
};

// Runs the server side of a handshake on a freshly accepted socket and
// returns the session. Throws SocketError(handshakeFailed).
using SecureHandshake = std::function<std::unique_ptr<SecureStream>(Socket&)>;

}  // namespace http
