#include "http/TlsStream.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <climits>
#include <string>
#include <utility>

#include "http/Socket.h"
#include "http/SocketError.h"

namespace http {

namespace {

using Kind = SocketError::Kind;

// Socket failures cannot cross OpenSSL's C frames: they are kept in the
// channel and thrown again once OpenSSL has returned.
template <typename Step>
int guarded(BIO* bio, Step step) {
    auto& channel = *static_cast<TlsStream::Channel*>(BIO_get_data(bio));
    try {
        return static_cast<int>(step(*channel.socket));
    } catch (...) {
        channel.failure = std::current_exception();
        return -1;
    }
}

int bioRead(BIO* bio, char* destination, int capacity) {
    return guarded(bio, [&](Socket& socket) { return socket.receiveRaw(destination, std::size_t(capacity)); });
}

int bioWrite(BIO* bio, const char* source, int count) {
    return guarded(bio, [&](Socket& socket) { return socket.sendRaw(source, std::size_t(count)); });
}

long bioControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

// A BIO that reads and writes through the Socket in its channel.
BIO_METHOD* socketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "siderama socket");
        BIO_meth_set_read(made, bioRead);
        BIO_meth_set_write(made, bioWrite);
        BIO_meth_set_ctrl(made, bioControl);
        BIO_meth_set_create(made, bioCreate);
        return made;
    }();
    return method;
}

// What a browser shows when it was pointed at the TLS port with http://.
constexpr std::string_view plainHttpAnswer =
    "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Type: text/plain\r\nContent-Length: 50\r\n\r\n"
    "This port speaks HTTPS: use an https:// address.\r\n";

}  // namespace

std::unique_ptr<TlsStream> TlsStream::accept(SSL_CTX* context, Socket& socket) {
    SSL* ssl = SSL_new(context);
    BIO* bio = ssl ? BIO_new(socketMethod()) : nullptr;
    if (!bio) {
        SSL_free(ssl);
        throw SocketError(Kind::handshakeFailed, "Out of memory");
    }
    std::unique_ptr<TlsStream> stream(new TlsStream(ssl));
    BIO_set_data(bio, &stream->channel_);
    SSL_set_bio(ssl, bio, bio);
    SSL_set_accept_state(ssl);
    stream->use(socket);
    const int result = SSL_do_handshake(ssl);
    if (result == 1) return stream;
    if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_HTTP_REQUEST) {
        try {
            socket.write(plainHttpAnswer);
        } catch (const SocketError&) {
        }
    }
    stream->fail(result, Kind::handshakeFailed);
}

TlsStream::TlsStream(SSL* ssl) : ssl_(ssl) {}

TlsStream::~TlsStream() { SSL_free(ssl_); }

void TlsStream::use(Socket& socket) {
    channel_.socket = &socket;
    channel_.failure = nullptr;
    ERR_clear_error();
}

void TlsStream::fail(int result, Kind kind) {
    const int code = SSL_get_error(ssl_, result);
    broken_ = code != SSL_ERROR_ZERO_RETURN;
    if (channel_.failure) std::rethrow_exception(std::exchange(channel_.failure, nullptr));
    std::string reason = "Connection closed by peer";
    if (code != SSL_ERROR_ZERO_RETURN && code != SSL_ERROR_SYSCALL) {
        char text[256] = "TLS error";
        if (const unsigned long error = ERR_get_error()) ERR_error_string_n(error, text, sizeof text);
        reason = text;
    }
    ERR_clear_error();
    throw SocketError(kind, reason);
}

std::size_t TlsStream::receive(Socket& socket, char* destination, std::size_t capacity) {
    use(socket);
    std::size_t received = 0;
    const int result = SSL_read_ex(ssl_, destination, capacity, &received);
    if (result != 1) fail(result, Kind::recvFailed);
    return received;
}

void TlsStream::send(Socket& socket, std::string_view bytes) {
    if (bytes.empty()) return;
    use(socket);
    std::size_t written = 0;
    const int result = SSL_write_ex(ssl_, bytes.data(), bytes.size(), &written);
    if (result != 1) fail(result, Kind::writeFailed);
}

void TlsStream::close(Socket& socket) noexcept {
    if (broken_) return;
    use(socket);
    SSL_shutdown(ssl_);
    channel_.failure = nullptr;
    ERR_clear_error();
}

}  // namespace http
