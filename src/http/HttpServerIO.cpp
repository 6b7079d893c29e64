#include "http/HttpServerIO.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "http/HttpParser.h"
#include "http/HttpParserError.h"
#include "http/SocketError.h"

namespace http {

namespace {

// On Linux niceness belongs to the calling thread. -1 is a valid niceness, so
// only errno tells a failed read.
void addNiceness(int increment) {
    const auto thread = static_cast<id_t>(gettid());
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread);
    if (errno == 0) setpriority(PRIO_PROCESS, thread, current + increment);
}

}  // namespace

HttpServerIO::HttpServerIO(HttpServerConfig config) : config_(std::move(config)) {}

HttpServerIO::~HttpServerIO() { stop(); }

void HttpServerIO::setConfig(HttpServerConfig config) {
    std::lock_guard lock(lifecycleMutex_);
    config_ = std::move(config);
}

HttpServerConfig HttpServerIO::config() const {
    std::lock_guard lock(lifecycleMutex_);
    return config_;
}

std::size_t HttpServerIO::connectionCount() const {
    std::lock_guard lock(clientSocketsLock_);
    return connections_.size();
}

void HttpServerIO::start(uint16_t port) {
    std::lock_guard lock(lifecycleMutex_);
    stopLocked();
    runningConfig_ = config_;
    listener_ = Socket::tcpSocketForListen(port, runningConfig_.listenBacklog, runningConfig_.bindAddress);
    port_ = listener_.port();
    running_ = true;
    acceptThread_ = std::thread(&HttpServerIO::acceptLoop, this);
}

void HttpServerIO::stop() {
    std::lock_guard lock(lifecycleMutex_);
    stopLocked();
}

void HttpServerIO::stopLocked() {
    running_ = false;
    listener_.shutdwn();  // wakes the blocked accept
    if (acceptThread_.joinable()) acceptThread_.join();
    listener_.release();
    port_ = 0;
    {
        std::unique_lock lock(clientSocketsLock_);
        for (const auto& entry : connections_) shutdown(entry.second.fd, SHUT_RDWR);
        drained_.wait(lock, [this] { return connections_.empty(); });
    }
    reapFinished();
}

void HttpServerIO::acceptLoop() {
    while (running_) {
        try {
            admit(listener_.acceptClientSocket());
        } catch (const SocketError&) {
            // Out of descriptors, memory or an aborted handshake: try again
            // shortly. Only stop() ends this loop.
            if (running_) std::this_thread::sleep_for(runningConfig_.acceptRetryDelay);
        }
        reapFinished();
    }
}

void HttpServerIO::admit(Socket client) {
    std::unique_lock lock(clientSocketsLock_);
    if (connections_.size() >= runningConfig_.maxConnections) {
        lock.unlock();
        try {
            respond(client, HttpResponse::raw(503, "Service Unavailable"), false);
        } catch (const SocketError&) {
        }
        return;
    }
    client.setTimeout(runningConfig_.idleTimeout);
    const std::uint64_t id = nextId_++;
    Connection& connection = connections_[id];
    connection.fd = client.fileDescriptor();
    try {
        // The new thread waits for this lock in finish(), so its std::thread
        // is stored before it can be moved to finished_.
        connection.thread = std::thread(&HttpServerIO::serve, this, id, std::move(client));
    } catch (const std::system_error&) {
        connections_.erase(id);  // the socket was closed with the thread's arguments
    }
}

void HttpServerIO::serve(std::uint64_t id, Socket client) {
    if (runningConfig_.connectionNiceness != 0) addNiceness(runningConfig_.connectionNiceness);
    std::optional<std::string> address;
    try {
        address = client.peername();
    } catch (const SocketError&) {
    }
    const HttpParser parser(runningConfig_.limits);
    for (;;) {
        HttpRequest request;
        try {
            request = parser.readHttpRequest(client);
        } catch (const HttpParserError& error) {
            refuse(client, error);
            break;
        } catch (const SocketError&) {
            break;
        } catch (const std::bad_alloc&) {
            // No memory for the announced body: refused like an oversized one.
            refuse(client, HttpParserError(HttpParserError::Kind::bodyTooLarge, ""));
            break;
        }
        request.address = address;
        const bool keepAlive = HttpParser::supportsKeepAlive(request.headers);
        if (!answer(client, request, keepAlive) || !keepAlive) break;
    }
    finish(id, client);
}

bool HttpServerIO::answer(Socket& client, HttpRequest& request, bool keepAlive) const {
    auto [params, handler] = select(request.method, request.url);
    request.params = std::move(params);
    std::optional<HttpResponse> response;
    try {
        response = handler(request);
    } catch (const std::exception& error) {
        runningConfig_.logger(std::string("Route handler failed: ") + error.what());
        response = HttpResponse::internalServerError();
    }
    try {
        respond(client, *response, keepAlive);
        return true;
    } catch (const SocketError& error) {
        runningConfig_.logger(std::string("Failed to send response: ") + error.what());
        return false;
    }
}

void HttpServerIO::refuse(Socket& client, const HttpParserError& error) const {
    if (error.statusCode() == 0) return;
    try {
        respond(client, HttpResponse::raw(error.statusCode(), error.reasonPhrase()), false);
    } catch (const SocketError&) {
        return;
    }
    client.drain(runningConfig_.drainTime);
}

void HttpServerIO::finish(std::uint64_t id, Socket& client) {
    std::lock_guard lock(clientSocketsLock_);
    // Closed under the lock, so stop() never shuts down a reused descriptor.
    client.release();
    const auto found = connections_.find(id);
    finished_.push_back(std::move(found->second.thread));
    connections_.erase(found);
    drained_.notify_all();
}

void HttpServerIO::reapFinished() {
    std::vector<std::thread> done;
    {
        std::lock_guard lock(clientSocketsLock_);
        done.swap(finished_);
    }
    for (auto& thread : done) thread.join();
}

std::pair<RouteParams, HttpHandler> HttpServerIO::select(const std::string&, const std::string&) const {
    return {RouteParams{}, [](const HttpRequest&) { return HttpResponse::notFound(); }};
}

void HttpServerIO::respond(Socket& socket, const HttpResponse& response, bool keepAlive) {
    const std::optional<std::string> body = response.body();
    std::string head = "HTTP/1.1 " + std::to_string(response.statusCode()) + " " + response.reasonPhrase() + "\r\n";
    head += "Content-Length: " + std::to_string(body ? body->size() : 0) + "\r\n";
    // HTTP/1.1 clients keep a connection unless told otherwise.
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    for (const auto& [name, value] : response.headers()) head += name + ": " + value + "\r\n";
    head += "\r\n";
    socket.write(head, body ? std::string_view(*body) : std::string_view());
}

}  // namespace http
