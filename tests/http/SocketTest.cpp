// The socket wrapper: lines, buffering, large reads, failures.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "http/Socket.h"
#include "http/SocketError.h"

using namespace http;

namespace {

// A connected pair: `server` is wrapped, `peer` is the raw other end.
struct Pair {
    Pair() {
        int fds[2];
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
        server = Socket(fds[0]);
        peer = fds[1];
    }
    ~Pair() { closePeer(); }
    void send(std::string_view bytes) const { ::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void closePeer() {
        if (peer >= 0) close(peer);
        peer = -1;
    }
    Socket server;
    int peer = -1;
};

std::size_t openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

TEST(Socket, BindingATakenPortFailsAndClosesTheDescriptor) {
    Socket first = Socket::tcpSocketForListen(0, 16, "127.0.0.1");
    const auto before = openDescriptors();
    try {
        Socket::tcpSocketForListen(static_cast<uint16_t>(first.port()), 16, "127.0.0.1");
        FAIL() << "bind succeeded";
    } catch (const SocketError& error) {
        EXPECT_EQ(error.kind(), SocketError::Kind::bindFailed);
        EXPECT_STREQ(error.what(), "bindFailed(\"Address already in use\")");
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST(Socket, LinesDropControlBytesReadLatin1AndHaveALimit) {
    Pair pair;
    pair.send("GET\r\na\tb\n\xC3\xA9\n" + std::string(20, 'x') + "\r\n" + std::string(21, 'y') + "\n");
    EXPECT_EQ(pair.server.readLine(100), "GET");
    EXPECT_EQ(pair.server.readLine(100), "ab");
    EXPECT_EQ(pair.server.readLine(100), "\xC3\x83\xC2\xA9");  // U+00C3 U+00A9
    EXPECT_EQ(pair.server.readLine(20), std::string(20, 'x'));
    EXPECT_EQ(pair.server.readLine(20), std::nullopt);
}

TEST(Socket, PeerClosingMidLineIsAReadError) {
    Pair pair;
    pair.send("partial");
    pair.closePeer();
    try {
        pair.server.readLine(100);
        FAIL() << "no error";
    } catch (const SocketError& error) {
        EXPECT_EQ(error.kind(), SocketError::Kind::recvFailed);
    }
}

TEST(Socket, SmallReadsAreBufferedAndLargeOnesComplete) {
    Pair pair;
    std::string head = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 40; ++i) head += "X-Header-" + std::to_string(i) + ": some value\r\n";
    pair.send(head + "\r\n");
    while (!pair.server.readLine(1000)->empty()) {
    }
    EXPECT_LE(pair.server.receiveCalls(), 2u);

    std::string data(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31 % 251);
    std::thread writer([&] { pair.send("xy" + data); });
    EXPECT_EQ(pair.server.read(), 'x');
    EXPECT_EQ(pair.server.read(), 'y');
    std::string body = "prefix";
    pair.server.readExactly(body, data.size());
    writer.join();
    EXPECT_EQ(body, "prefix" + data);
}

TEST(Socket, WritingToAVanishedPeerFailsWithoutSignal) {
    const auto previous = std::signal(SIGPIPE, SIG_DFL);  // a signal would end the test process
    Pair pair;
    pair.closePeer();
    try {
        pair.server.write(std::string(100000, 'x'));
        FAIL() << "write succeeded";
    } catch (const SocketError& error) {
        EXPECT_EQ(error.kind(), SocketError::Kind::writeFailed);
    }
    std::signal(SIGPIPE, previous);
}

}  // namespace
