#include "HttplibPeer.h"

#include <httplib.h>

#include <chrono>
#include <stdexcept>

namespace bench {

HttplibPeer::HttplibPeer(const std::string& body, std::size_t threads) : server_(std::make_unique<httplib::Server>()) {
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server_->set_keep_alive_max_count(100000000);
    server_->set_tcp_nodelay(true);  // as the library under test and nginx do
    server_->Get("/json", [body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "application/json");
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server_->is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (port_ <= 0 || !server_->is_running()) throw std::runtime_error("cpp-httplib did not start");
}

HttplibPeer::~HttplibPeer() {
    server_->stop();
    thread_.join();
}

}  // namespace bench
