#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "http/HttpServer.h"
#include "support/RawHttpClient.h"

namespace http::test {

using testsupport::HttpAnswer;
using testsupport::parseAnswer;
using testsupport::RawHttpClient;

// Short time-outs so that the abuse tests finish quickly.
inline HttpServerConfig quickConfig() {
    HttpServerConfig config;
    config.bindAddress = "127.0.0.1";
    config.idleTimeout = std::chrono::milliseconds(400);
    config.acceptRetryDelay = std::chrono::milliseconds(10);
    config.drainTime = std::chrono::milliseconds(100);
    config.maxConnections = 64;
    config.limits = {.maxLineLength = 1024, .maxHeaderCount = 20, .maxBodySize = 1 << 20,
                     .headTimeout = std::chrono::milliseconds(1000)};
    return config;
}

inline HttpHandler answering(std::string text) {
    return [text](const HttpRequest&) { return HttpResponse::ok(HttpResponseBody::text(text)); };
}

// A server on a loopback port with the routes the tests use.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { startServer(quickConfig()); }

    void startServer(HttpServerConfig config) {
        server = std::make_unique<HttpServer>(std::move(config));
        server->GET["/hello"] = answering("hello");
        const HttpHandler echo = [](const HttpRequest& request) {
            return HttpResponse::ok(HttpResponseBody::text(request.body));
        };
        server->POST["/echo"] = echo;
        server->PUT["/echo"] = echo;
        server->GET["/query"] = [](const HttpRequest& request) {
            std::string text;
            for (const auto& [name, value] : request.queryParams) text += name + "=" + value + ";";
            return HttpResponse::ok(HttpResponseBody::text(text));
        };
        server->GET["/slow"] = [](const HttpRequest&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return HttpResponse::ok(HttpResponseBody::text(std::string(8 << 20, 's')));
        };
        server->start();
        port = server->port();
    }

    // Waits until the server serves exactly `count` connections.
    bool waitForConnections(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (server->connectionCount() != count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    std::string exchange(const std::string& request) { return testsupport::exchangeRaw(port, request); }
    std::string hello() { return parseAnswer(exchange("GET /hello HTTP/1.1\r\n\r\n")).body; }

    std::unique_ptr<HttpServer> server;
    int port = 0;
};

}  // namespace http::test
