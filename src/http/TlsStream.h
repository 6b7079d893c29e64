#pragma once

#include <exception>
#include <memory>

#include "http/SecureStream.h"
#include "http/SocketError.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace http {

// One TLS session (OpenSSL) on a socket. The ciphertext goes through the
// socket's own receiveRaw() and sendRaw(), so its time-outs and deadline
// bound every step, the handshake included.
class TlsStream : public SecureStream {
public:
    // Runs the server handshake on `socket`. A client that sent plain HTTP
    // gets a plain 400 answer first. Throws SocketError(handshakeFailed).
    static std::unique_ptr<TlsStream> accept(SSL_CTX* context, Socket& socket);

    ~TlsStream() override;
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    std::size_t receive(Socket& socket, char* destination, std::size_t capacity) override;
    void send(Socket& socket, std::string_view bytes) override;
    void close(Socket& socket) noexcept override;

    // Where the socket callbacks find their socket and leave their failure.
    struct Channel {
        Socket* socket = nullptr;
        std::exception_ptr failure;
    };

private:
    explicit TlsStream(SSL* ssl);
    // Prepares the callbacks for one call on `socket`.
    void use(Socket& socket);
    // Throws what made an OpenSSL call return `result`.
    [[noreturn]] void fail(int result, SocketError::Kind kind);

    SSL* ssl_;
    Channel channel_;
    bool broken_ = false;  // after a fatal error no close_notify may be sent
};

}  // namespace http
