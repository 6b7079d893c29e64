#include "http/HttpServer.h"

#include "http/StringHelpers.h"

namespace http {

HttpServer::RouteSlot& HttpServer::RouteSlot::operator=(HttpHandler handler) {
    if (handler)
        router_.registerRoute(method_, path_, std::move(handler));
    else
        router_.unregisterRoute(method_, path_);
    return *this;
}

HttpServer::HttpServer(HttpServerConfig config) : HttpServerIO(std::move(config)) {}

// Connection threads use the router: they must be gone before it is.
HttpServer::~HttpServer() { stop(); }

std::pair<RouteParams, HttpHandler> HttpServer::select(const std::string& method, const std::string& url) const {
    if (auto found = router_.select(method, url)) return std::move(*found);
    return HttpServerIO::select(method, url);
}

}  // namespace http

namespace http {

void HttpServer::streamBodies(const std::string& method, const std::string& path, BodyGate gate) {
    gates_[{method, split(path, '/')}] = std::move(gate);
}

BodyGate HttpServer::gate(const std::string& method, const std::string& url) const {
    const auto found = gates_.find({method, split(std::string_view(url).substr(0, url.find('?')), '/')});
    return found == gates_.end() ? BodyGate() : found->second;
}

}  // namespace http
