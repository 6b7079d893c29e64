#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "http/HttpRouter.h"
#include "http/HttpServerIO.h"

namespace http {

// The server applications create: HttpServerIO plus a route table.
//
//   server.GET["/api/status"] = [](const HttpRequest&) { ... };
//   server.POST["/files/:name"] = handler;   // request.params["name"]
//   server["/any"] = handler;                // every method
//   server.GET["/api/status"] = nullptr;     // removes the route
//
// Register routes before start(); unmatched requests get notFound.
class HttpServer : public HttpServerIO {
public:
    // A write-only place in the table: assigning a handler registers it,
    // assigning an empty handler removes the route.
    class RouteSlot {
    public:
        RouteSlot(HttpRouter& router, std::optional<std::string> method, std::string path)
            : router_(router), method_(std::move(method)), path_(std::move(path)) {}
        RouteSlot& operator=(HttpHandler handler);

    private:
        HttpRouter& router_;
        std::optional<std::string> method_;
        std::string path_;
    };

    // The route table of one method.
    class Route {
    public:
        Route(HttpRouter& router, std::string method) : router_(router), method_(std::move(method)) {}
        RouteSlot operator[](std::string path) { return RouteSlot(router_, method_, std::move(path)); }
        const std::string& method() const { return method_; }

    private:
        HttpRouter& router_;
        std::string method_;
    };

    explicit HttpServer(HttpServerConfig config = {});
    ~HttpServer() override;

    RouteSlot operator[](std::string path) { return RouteSlot(router_, std::nullopt, std::move(path)); }
    std::vector<HttpRouter::Listing> routes() const { return router_.routes(); }
    HttpRouter& router() { return router_; }

    std::pair<RouteParams, HttpHandler> select(const std::string& method, const std::string& url) const override;

    // Requests for `path` (no captures) with `method` pass `gate` once their
    // head is read. Register before start().
    void streamBodies(const std::string& method, const std::string& path, BodyGate gate);
    BodyGate gate(const std::string& method, const std::string& url) const override;

private:
    HttpRouter router_;
    std::map<std::pair<std::string, std::vector<std::string>>, BodyGate> gates_;

public:
    Route DELETE{router_, "DELETE"};
    Route UPDATE{router_, "UPDATE"};
    Route HEAD{router_, "HEAD"};
    Route POST{router_, "POST"};
    Route GET{router_, "GET"};
    Route PUT{router_, "PUT"};
};

}  // namespace http
