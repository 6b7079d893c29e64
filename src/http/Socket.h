#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/SecureStream.h"

namespace http {

// An IPv4 TCP socket that owns its descriptor (closed by release() or the
// destructor). Reads go through a small buffer so that a request costs a few
// receive calls instead of one per byte. Writes never raise SIGPIPE. After
// secure() every read and write goes through the encrypted stream.
class Socket {
public:
    static constexpr uint16_t defaultPort = 8080;
    static constexpr int defaultBacklog = 128;

    // Opens a listening socket on `address` (numeric IPv4) and `port`
    // (0 lets the system choose). Throws SocketError.
    static Socket tcpSocketForListen(uint16_t port = defaultPort, int maxPendingConnection = defaultBacklog,
                                     const std::string& address = "0.0.0.0");

    explicit Socket(int socketFileDescriptor = -1) : fd_(socketFileDescriptor) {}
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { release(); }

    int fileDescriptor() const { return fd_; }
    // Local port, 0 when it cannot be read.
    int port() const;

    // Blocks until a client connects. Throws SocketError(acceptFailed).
    Socket acceptClientSocket() const;

    // Limits how long a single receive or send may wait (0: forever).
    void setTimeout(std::chrono::milliseconds timeout);
    // Receives after `deadline` fail, whatever the time-out; none: no deadline.
    void setDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) { deadline_ = deadline; }
    std::optional<std::chrono::steady_clock::time_point> deadline() const { return deadline_; }

    // Next byte. Throws SocketError(recvFailed), also on the peer's close.
    uint8_t read();
    // Bytes up to the next line feed (excluded), as sent, without a final
    // carriage return. Returns nothing when the line holds more than
    // `maxLength` bytes.
    std::optional<std::string> readLine(std::size_t maxLength);
    // Appends exactly `count` bytes to `out`.
    void readExactly(std::string& out, std::size_t count);

    // Writes everything, `head` then `body`, in as few calls as possible.
    // Throws SocketError(writeFailed).
    void write(std::string_view head, std::string_view body = {});

    // From now on reads and writes carry plain bytes through `stream`.
    void secure(std::unique_ptr<SecureStream> stream) { secure_ = std::move(stream); }
    // Ends an encrypted session (the peer is told); plain sockets: nothing.
    void closeSession();

    // The descriptor's own bytes, for a SecureStream: receives at least one
    // byte (time-out and deadline apply; throws SocketError(recvFailed), also
    // on the peer's close) or sends some bytes (throws writeFailed).
    std::size_t receiveRaw(char* destination, std::size_t capacity);
    std::size_t sendRaw(const char* source, std::size_t count);

    // The peer's numeric address. Throws SocketError.
    std::string peername() const;

    // Shuts both directions down; the descriptor stays open, blocked calls on
    // it return with an error.
    void shutdwn() const;
    // Shuts down and closes the descriptor (an encrypted session is dropped
    // without telling the peer: see closeSession()).
    void release();
    // Ends the sending side and drops what the peer still sends for at most
    // `within`, so that closing afterwards does not reset the connection
    // before the peer has read the last answer. Ends the session first.
    void drain(std::chrono::milliseconds within);

    // Number of receive calls made so far (diagnostics).
    std::size_t receiveCalls() const { return receiveCalls_; }

private:
    std::size_t buffered() const { return end_ - begin_; }
    void fill();
    std::size_t receive(char* destination, std::size_t capacity);
    void writeSecure(std::string_view head, std::string_view body);
    void fitReceiveTimeoutToDeadline();
    void applyReceiveTimeout(std::chrono::milliseconds timeout);

    int fd_ = -1;
    std::string buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::size_t receiveCalls_ = 0;
    std::chrono::milliseconds timeout_{0};         // as set by setTimeout
    std::chrono::milliseconds receiveTimeout_{0};  // currently on the descriptor
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    std::unique_ptr<SecureStream> secure_;
};

}  // namespace http
