#include "http/HttpServer.h"

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
