#include "SlowClients.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/RawHttpClient.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

// A connection to 127.0.0.1:`port` from 127.0.0.2; -1 on failure.
int connectFromSecondAddress(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    from.sin_addr.s_addr = inet_addr("127.0.0.2");
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
        return fd;
    if (fd >= 0) close(fd);
    return -1;
}

// One GET on a new connection, answered 200 within two seconds.
bool getOnce(int port, const std::string& path) {
    testsupport::RawHttpClient client(port, std::chrono::seconds(2));
    return client.send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n") &&
           testsupport::parseAnswer(client.readResponse()).status == 200;
}

// An endless request head, one byte at a time.
class SlowConnection {
public:
    explicit SlowConnection(int port) : port_(port) { reopen(); }
    ~SlowConnection() { close(fd_); }
    SlowConnection(const SlowConnection&) = delete;
    SlowConnection& operator=(const SlowConnection&) = delete;

    void trickle() {
        char scratch[512];
        if (fd_ < 0 || recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT) >= 0 || send(fd_, "a", 1, MSG_NOSIGNAL) != 1)
            reopen();  // answered (refused) or closed: the attacker comes back
    }

private:
    void reopen() {
        if (fd_ >= 0) close(fd_);
        fd_ = connectFromSecondAddress(port_);
        const std::string start = "GET / HTTP/1.1\r\nX-Slow: ";
        if (fd_ >= 0) send(fd_, start.data(), start.size(), MSG_NOSIGNAL);
    }

    int port_;
    int fd_ = -1;
};

}  // namespace

SlowClientsResult underSlowClients(int port, const std::string& path, int count, double bytesPerSecond,
                                   double seconds) {
    std::atomic<bool> running = true;
    std::thread attacker([&] {
        std::vector<std::unique_ptr<SlowConnection>> connections;
        for (int i = 0; i < count; ++i) connections.push_back(std::make_unique<SlowConnection>(port));
        const auto pause = std::chrono::duration<double>(1.0 / bytesPerSecond);
        for (std::size_t next = 0; running; next = (next + 1) % connections.size()) {
            connections[next]->trickle();
            std::this_thread::sleep_for(pause);
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the attack is in place
    SlowClientsResult result;
    int served = 0;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (getOnce(port, path)) ++served;
        else ++result.refused;
    }
    result.servedPerSecond = served / seconds;
    running = false;
    attacker.join();
    return result;
}

}  // namespace bench
