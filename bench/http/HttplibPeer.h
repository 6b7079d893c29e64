#pragma once

#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace bench {

// cpp-httplib (Debian's libcpp-httplib) answering GET "/json" with a fixed
// body on a loopback port, with as many pool threads as the load has
// connections so that it, like the library under test, serves every
// keep-alive connection at once.
class HttplibPeer {
public:
    HttplibPeer(const std::string& body, std::size_t threads);
    ~HttplibPeer();
    HttplibPeer(const HttplibPeer&) = delete;
    HttplibPeer& operator=(const HttplibPeer&) = delete;

    int port() const { return port_; }

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
};

}  // namespace bench
