#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "TestClient.h"
#include "http/HttpServerIO.h"
#include "http/Socket.h"
#include "http/SocketError.h"

using namespace http;

namespace {

// A connected pair: `server` is wrapped, `peer` is the raw other end.
struct Pair {
    explicit Pair(int type = SOCK_STREAM) {
        int fds[2];
        socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds);
        server = Socket(fds[0]);
        peer = fds[1];
    }
    ~Pair() {
        if (peer >= 0) close(peer);
    }
    void send(std::string_view bytes) const { ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }
    void closePeer() {
        close(peer);
        peer = -1;
    }
    Socket server;
    int peer = -1;
};

}  // namespace

TEST(Socket, ListensOnAPortTheSystemChooses) {
    Socket listener = Socket::tcpSocketForListen(0, 16, "127.0.0.1");
    EXPECT_GT(listener.port(), 0);
}

TEST(Socket, BindingATakenPortFailsAndClosesTheDescriptor) {
    Socket first = Socket::tcpSocketForListen(0, 16, "127.0.0.1");
    const auto before = test::openDescriptorCount();
    try {
        Socket::tcpSocketForListen(static_cast<uint16_t>(first.port()), 16, "127.0.0.1");
        FAIL() << "bind succeeded";
    } catch (const SocketError& error) {
        EXPECT_EQ(error.kind(), SocketError::Kind::bindFailed);
        EXPECT_EQ(error.message(), "Address already in use");
        EXPECT_STREQ(error.what(), "bindFailed(\"Address already in use\")");
    }
    EXPECT_EQ(test::openDescriptorCount(), before);
}

TEST(Socket, PlaceholderHasPortZeroAndReleasesHarmlessly) {
    Socket placeholder;
    EXPECT_EQ(placeholder.port(), 0);
    placeholder.release();
    placeholder.write("");  // no system call for nothing to write
}

TEST(Socket, ReadLineKeepsBytesAsSent) {
    Pair pair;
    pair.send("GET\r\na\tb\n\xC3\xA9\n");
    EXPECT_EQ(pair.server.readLine(100), "GET");
    EXPECT_EQ(pair.server.readLine(100), "a\tb");
    EXPECT_EQ(pair.server.readLine(100), "\xC3\xA9");
}

TEST(Socket, ReadLineRefusesLongLines) {
    Pair pair;
    pair.send(std::string(20, 'x') + "\n");
    EXPECT_EQ(pair.server.readLine(19), std::nullopt);
    Pair exact;
    exact.send(std::string(20, 'x') + "\r\n");
    EXPECT_EQ(exact.server.readLine(20), std::string(20, 'x'));
}

TEST(Socket, ReadLineFailsWhenThePeerClosesFirst) {
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

TEST(Socket, ReadsAreBuffered) {
    Pair pair;
    std::string request = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 40; ++i) request += "X-Header-" + std::to_string(i) + ": some value\r\n";
    request += "\r\nBODY";
    pair.send(request);
    while (!pair.server.readLine(1000)->empty()) {
    }
    std::string body;
    pair.server.readExactly(body, 4);
    EXPECT_EQ(body, "BODY");
    EXPECT_LE(pair.server.receiveCalls(), 2u);
}

TEST(Socket, ReadExactlyReceivesLargeBodies) {
    Pair pair;
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

TEST(Socket, HeadAndBodyGoOutInOneWrite) {
    Pair pair(SOCK_SEQPACKET);  // every write is one record
    pair.server.write("HEAD\r\n\r\n", "body");
    char buffer[64];
    EXPECT_EQ(recv(pair.peer, buffer, sizeof buffer, MSG_DONTWAIT), 12);
    EXPECT_EQ(recv(pair.peer, buffer, sizeof buffer, MSG_DONTWAIT), -1);
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
        EXPECT_EQ(error.message(), "Broken pipe");
    }
    std::signal(SIGPIPE, previous);
}

TEST(Socket, AcceptsAndNamesALoopbackPeer) {
    Socket listener = Socket::tcpSocketForListen(0, 16, "127.0.0.1");
    test::TestClient client(listener.port());
    Socket accepted = listener.acceptClientSocket();
    EXPECT_EQ(accepted.peername(), "127.0.0.1");
    EXPECT_TRUE(client.send("ping\n"));
    EXPECT_EQ(accepted.readLine(10), "ping");
}

TEST(Socket, ShutdownWakesABlockedRead) {
    Pair pair;
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pair.server.shutdwn();
    });
    EXPECT_THROW(pair.server.read(), SocketError);
    waker.join();
}

TEST(Socket, TimeoutEndsAnIdleRead) {
    Pair pair;
    pair.server.setTimeout(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(pair.server.read(), SocketError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(Socket, DeadlineEndsATricklingRead) {
    Pair pair;
    pair.server.setTimeout(std::chrono::milliseconds(400));
    pair.server.setDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(300));
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        for (int i = 0; i < 20 && !stop; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (::send(pair.peer, "x", 1, MSG_NOSIGNAL) != 1) return;
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(pair.server.readLine(1000), SocketError);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(250));
    EXPECT_LT(took, std::chrono::milliseconds(900));
    stop = true;
    trickle.join();
    pair.server.setDeadline(std::nullopt);
    ::send(pair.peer, "\n", 1, MSG_NOSIGNAL);
    EXPECT_TRUE(pair.server.readLine(1000).has_value());  // the time-out is back to its own length
}

TEST(Socket, ServerWritesAWholeResponseInOneCall) {
    Pair pair(SOCK_SEQPACKET);  // every write is one record
    const auto response = HttpResponse::ok(HttpResponseBody::text(std::string(3000, 'b')));
    HttpServerIO::respond(pair.server, response, true);
    std::string record(8192, '\0');
    const ssize_t got = recv(pair.peer, record.data(), record.size(), MSG_DONTWAIT);
    ASSERT_GT(got, 3000);
    record.resize(static_cast<std::size_t>(got));
    EXPECT_EQ(record.rfind("HTTP/1.1 200 OK\r\nContent-Length: 3000\r\nConnection: keep-alive\r\n", 0), 0u);
    EXPECT_EQ(record.substr(record.size() - 3000), std::string(3000, 'b'));
    EXPECT_EQ(recv(pair.peer, record.data(), record.size(), MSG_DONTWAIT), -1);  // nothing after it
}
