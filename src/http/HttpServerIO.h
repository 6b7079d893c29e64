#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "http/HttpRouter.h"
#include "http/HttpServerConfig.h"
#include "http/SecureStream.h"
#include "http/Socket.h"

namespace http {

class BodyFile;
class HttpParser;
class HttpParserError;

// Decides, once a request's head has arrived, where its body goes: a
// response refuses the request at once (its body is not read and the
// connection closes); a BodyFile receives the body instead of request.body.
using BodyGate = std::function<std::variant<HttpResponse, std::shared_ptr<BodyFile>>(const HttpRequest&)>;

// Connection engine: listens, accepts, serves every client on its own thread
// and writes the handlers' responses, keeping a connection open while the
// client sends "Connection: keep-alive". Further listeners (for instance one
// whose clients speak TLS) share the routes, limits and connection cap.
class HttpServerIO {
public:
    explicit HttpServerIO(HttpServerConfig config = {});
    // Stops the server. A subclass whose select() uses its own members must
    // call stop() in its destructor as well.
    virtual ~HttpServerIO();
    HttpServerIO(const HttpServerIO&) = delete;
    HttpServerIO& operator=(const HttpServerIO&) = delete;

    // Takes effect at the next start().
    void setConfig(HttpServerConfig config);
    HttpServerConfig config() const;

    // The port start() listens on, 0 when not listening.
    int port() const { return port_.load(); }
    bool isRunning() const { return running_.load(); }
    std::size_t connectionCount() const;

    // Stops, then listens on `port` (0: chosen by the system). Returns once
    // the listener is open. Throws SocketError.
    virtual void start(uint16_t port = 0);
    // While running, listens on `port` as well (0: chosen by the system);
    // each client there first goes through `secure` (none: plain HTTP).
    // Returns the port. Throws SocketError; stop() closes it with the rest.
    int listen(uint16_t port, SecureHandshake secure);
    // Closes the listener and every connection and waits for their threads.
    // Must not be called from a route handler.
    virtual void stop();

    // Handler for a request; the base answers notFound to everything.
    virtual std::pair<RouteParams, HttpHandler> select(const std::string& method, const std::string& url) const;
    // The gate of requests whose bodies are streamed; the base has none.
    virtual BodyGate gate(const std::string& method, const std::string& url) const;

    // Writes `response` in HTTP/1.1 form. Throws SocketError(writeFailed).
    static void respond(Socket& socket, const HttpResponse& response, bool keepAlive);

private:
    struct Connection {
        int fd = -1;
        std::string address;
        std::thread thread;
    };
    struct Listener {
        Socket socket;
        SecureHandshake secure;
        std::thread thread;
    };

    void stopLocked();
    int listenLocked(uint16_t port, SecureHandshake secure);
    void acceptLoop(const Listener& listener);
    void admit(Socket client, const SecureHandshake& secure);
    void serve(std::uint64_t id, Socket client, const SecureHandshake* secure);
    bool handshake(Socket& client, const SecureHandshake& secure) const;
    bool receiveBody(const HttpParser& parser, Socket& client, HttpRequest& request) const;
    bool answer(Socket& client, HttpRequest& request, bool keepAlive) const;
    void turnAway(Socket& client) const;
    void refuse(Socket& client, const HttpParserError& error) const;
    void finish(std::uint64_t id, Socket& client);
    void reapFinished();

    mutable std::mutex lifecycleMutex_;  // serialises start() and stop()
    HttpServerConfig config_;
    HttpServerConfig runningConfig_;    // copy used while running
    std::vector<std::unique_ptr<Listener>> listeners_;
    std::atomic<bool> running_{false};
    std::atomic<int> port_{0};

    mutable std::mutex clientSocketsLock_;  // guards the members below
    std::condition_variable drained_;
    std::unordered_map<std::uint64_t, Connection> connections_;
    std::unordered_map<std::string, std::size_t> perAddress_;
    std::vector<std::thread> finished_;
    std::uint64_t nextId_ = 0;
};

}  // namespace http
