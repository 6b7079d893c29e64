#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "TestClient.h"
#include "http/HttpServer.h"

namespace http::test {

// Short time-outs so that the abuse tests finish quickly.
inline HttpServerConfig quickConfig() {
    HttpServerConfig config;
    config.bindAddress = "127.0.0.1";
    config.idleTimeout = std::chrono::milliseconds(400);
    config.acceptRetryDelay = std::chrono::milliseconds(10);
    config.drainTime = std::chrono::milliseconds(100);
    config.maxConnections = 64;
    config.limits.maxBodySize = 1 << 20;
    config.limits.maxLineLength = 1024;
    config.limits.maxHeaderCount = 20;
    config.limits.headTimeout = std::chrono::milliseconds(1000);
    return config;
}

// Routes shared by the loopback tests.
inline void addTestRoutes(HttpServer& server) {
    server.GET["/hello"] = [](const HttpRequest&) { return HttpResponse::ok(HttpResponseBody::text("hello")); };
    server.GET["/page"] = [](const HttpRequest&) { return HttpResponse::ok(HttpResponseBody::html("page")); };
    server.GET["/json"] = [](const HttpRequest&) {
        return HttpResponse::ok(HttpResponseBody::json({{"status", "success"}}));
    };
    const HttpHandler echo = [](const HttpRequest& request) {
        return HttpResponse::ok(HttpResponseBody::text(request.body));
    };
    server.POST["/echo"] = echo;
    server.PUT["/echo"] = echo;
    server.GET["/query"] = [](const HttpRequest& request) {
        std::string text;
        for (const auto& [name, value] : request.queryParams) text += name + "=" + value + ";";
        return HttpResponse::ok(HttpResponseBody::text(text));
    };
    server.GET["/address"] = [](const HttpRequest& request) {
        return HttpResponse::ok(HttpResponseBody::text(request.address.value_or("none")));
    };
    server.GET["/header/:name"] = [](const HttpRequest& request) {
        const auto found = request.headers.find(request.params.at("name"));
        return HttpResponse::ok(HttpResponseBody::text(found == request.headers.end() ? "-" : found->second));
    };
    server.GET["/slow"] = [](const HttpRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return HttpResponse::ok(HttpResponseBody::text(std::string(8 << 20, 's')));
    };
    server.GET["/throw"] = [](const HttpRequest&) -> HttpResponse { throw std::runtime_error("handler bug"); };
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { startServer(quickConfig()); }

    void startServer(HttpServerConfig config) {
        server = std::make_unique<HttpServer>(std::move(config));
        addTestRoutes(*server);
        server->start();
        port = server->port();
    }

    // Waits until the server serves exactly `count` connections.
    bool waitForConnections(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (server->connectionCount() != count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Sends `request` on a new connection and returns everything until close.
    std::string exchange(const std::string& request) {
        TestClient client(port);
        client.send(request);
        return client.readAll();
    }

    std::unique_ptr<HttpServer> server;
    int port = 0;
};

}  // namespace http::test
