#include "http/HttpServerIO.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "http/BodyFile.h"
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
    running_ = true;
    try {
        port_ = listenLocked(port, {});
    } catch (const SocketError&) {
        running_ = false;
        throw;
    }
}

int HttpServerIO::listen(uint16_t port, SecureHandshake secure) {
    std::lock_guard lock(lifecycleMutex_);
    if (!running_) throw SocketError(SocketError::Kind::listenFailed, "Server not running");
    return listenLocked(port, std::move(secure));
}

int HttpServerIO::listenLocked(uint16_t port, SecureHandshake secure) {
    auto listener = std::make_unique<Listener>();
    listener->socket = Socket::tcpSocketForListen(port, runningConfig_.listenBacklog, runningConfig_.bindAddress);
    listener->secure = std::move(secure);
    listener->thread = std::thread(&HttpServerIO::acceptLoop, this, std::cref(*listener));
    listeners_.push_back(std::move(listener));
    return listeners_.back()->socket.port();
}

void HttpServerIO::stop() {
    std::lock_guard lock(lifecycleMutex_);
    stopLocked();
}

void HttpServerIO::stopLocked() {
    running_ = false;
    for (const auto& listener : listeners_) {
        listener->socket.shutdwn();  // wakes the blocked accept
        listener->thread.join();
    }
    listeners_.clear();
    port_ = 0;
    {
        std::unique_lock lock(clientSocketsLock_);
        for (const auto& entry : connections_) shutdown(entry.second.fd, SHUT_RDWR);
        drained_.wait(lock, [this] { return connections_.empty(); });
    }
    reapFinished();
}

void HttpServerIO::acceptLoop(const Listener& listener) {
    while (running_) {
        try {
            admit(listener.socket.acceptClientSocket(), listener.secure);
        } catch (const SocketError&) {
            // Out of descriptors, memory or an aborted handshake: try again
            // shortly. Only stop() ends this loop.
            if (running_) std::this_thread::sleep_for(runningConfig_.acceptRetryDelay);
        }
        reapFinished();
    }
}

void HttpServerIO::turnAway(Socket& client) const {
    try {
        respond(client, HttpResponse::raw(503, "Service Unavailable"), false);
    } catch (const SocketError&) {
    }
}

// An encrypted client over the cap is closed without a handshake: refusing
// must cost less than serving.
void HttpServerIO::admit(Socket client, const SecureHandshake& secure) {
    std::string address;
    try {
        address = client.peername();
    } catch (const SocketError&) {
    }
    std::unique_lock lock(clientSocketsLock_);
    std::size_t& fromAddress = perAddress_[address];
    const std::size_t kept = fromAddress > 0 ? std::min(runningConfig_.placesForNewAddresses, runningConfig_.maxConnections) : 0;
    if (connections_.size() >= runningConfig_.maxConnections - kept || fromAddress >= runningConfig_.maxConnectionsPerClient) {
        if (fromAddress == 0) perAddress_.erase(address);
        lock.unlock();
        if (secure) return;
        turnAway(client);
        return;
    }
    ++fromAddress;
    client.setTimeout(runningConfig_.idleTimeout);
    const std::uint64_t id = nextId_++;
    Connection& connection = connections_[id];
    connection.fd = client.fileDescriptor();
    connection.address = address;
    try {
        // The new thread waits for this lock in finish(), so its std::thread
        // is stored before it can be moved to finished_.
        connection.thread = std::thread(&HttpServerIO::serve, this, id, std::move(client), secure ? &secure : nullptr);
    } catch (const std::system_error&) {
        connections_.erase(id);  // the socket was closed with the thread's arguments
        if (--perAddress_[address] == 0) perAddress_.erase(address);
    }
}

void HttpServerIO::serve(std::uint64_t id, Socket client, const SecureHandshake* secure) {
    if (runningConfig_.connectionNiceness != 0) addNiceness(runningConfig_.connectionNiceness);
    if (secure && !handshake(client, *secure)) {
        finish(id, client);
        return;
    }
    std::optional<std::string> address;
    {
        std::lock_guard lock(clientSocketsLock_);
        const std::string& known = connections_.at(id).address;
        if (!known.empty()) address = known;
    }
    const HttpParser parser(runningConfig_.limits);
    for (;;) {
        HttpRequest request;
        try {
            request = parser.readHead(client);
            request.address = address;
            if (!receiveBody(parser, client, request)) break;
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
        const bool keepAlive = HttpParser::supportsKeepAlive(request.headers);
        if (!answer(client, request, keepAlive) || !keepAlive) break;
    }
    client.closeSession();
    finish(id, client);
}

// False when the gate refused the request: it has been answered then.
bool HttpServerIO::receiveBody(const HttpParser& parser, Socket& client, HttpRequest& request) const {
    const BodyGate bodyGate = gate(request.method, request.url);
    if (!bodyGate) {
        HttpLimits buffered = runningConfig_.limits;
        buffered.maxBodySize = std::min(buffered.maxBodySize, runningConfig_.maxBufferedBody);
        HttpParser(buffered).readBody(client, request);
        return true;
    }
    auto decision = [&]() -> std::variant<HttpResponse, std::shared_ptr<BodyFile>> {
        try {
            return bodyGate(request);
        } catch (const std::exception&) {
            return HttpResponse::internalServerError();
        }
    }();
    if (auto* refusal = std::get_if<HttpResponse>(&decision)) {
        respond(client, *refusal, false);
        client.drain(runningConfig_.drainTime);
        return false;
    }
    request.bodyFile = std::get<std::shared_ptr<BodyFile>>(std::move(decision));
    BodyFile& file = *request.bodyFile;
    parser.readBody(client, request, [&file](std::string_view bytes) { file.write(bytes); });
    file.finish();
    return true;
}

// A handshake that does not finish within its time-out fails like any other.
bool HttpServerIO::handshake(Socket& client, const SecureHandshake& secure) const {
    const bool pressed = 2 * connectionCount() >= runningConfig_.maxConnections;
    client.setDeadline(std::chrono::steady_clock::now() +
                       (pressed ? runningConfig_.pressedHandshakeTimeout : runningConfig_.handshakeTimeout));
    try {
        client.secure(secure(client));
    } catch (const std::exception&) {
        return false;
    }
    client.setDeadline(std::nullopt);
    return true;
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
    if (--perAddress_[found->second.address] == 0) perAddress_.erase(found->second.address);
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

BodyGate HttpServerIO::gate(const std::string&, const std::string&) const { return {}; }

// A file body goes out a piece at a time; its length is what the file held
// when the answer began (a file that shrinks meanwhile ends the connection).
void HttpServerIO::respond(Socket& socket, const HttpResponse& response, bool keepAlive) {
    const std::optional<std::string> body = response.body();
    const std::shared_ptr<const int>& file = response.bodyFile();
    struct stat info {};
    if (file && ::fstat(*file, &info) != 0) info.st_size = 0;
    std::string head = "HTTP/1.1 " + std::to_string(response.statusCode()) + " " + response.reasonPhrase() + "\r\n";
    head += "Content-Length: " + std::to_string(file ? std::uint64_t(info.st_size) : body ? body->size() : 0) + "\r\n";
    // HTTP/1.1 clients keep a connection unless told otherwise.
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    for (const auto& [name, value] : response.headers()) head += name + ": " + value + "\r\n";
    head += "\r\n";
    if (!file) {
        socket.write(head, body ? std::string_view(*body) : std::string_view());
        return;
    }
    socket.write(head);
    std::string piece(std::size_t(256 * 1024), '\0');
    for (off_t sent = 0; sent < info.st_size;) {
        const ssize_t got = ::pread(*file, piece.data(), std::size_t(std::min<off_t>(off_t(piece.size()), info.st_size - sent)), sent);
        if (got <= 0) throw SocketError(SocketError::Kind::writeFailed, "the file being sent shrank");
        socket.write(std::string_view(piece.data(), std::size_t(got)));
        sent += got;
    }
}

}  // namespace http
