// Serves the upload routes on a loopback port it prints on the first line of
// standard output, until standard input reaches its end.
#include <iostream>
#include <string>

#include "UploadRoutes.h"

int main() {
    http::HttpServerConfig config;
    config.bindAddress = "127.0.0.1";
    config.idleTimeout = std::chrono::seconds(5);
    config.limits.maxBodySize = 64 << 20;
    http::HttpServer server(config);
    http::test::addUploadRoutes(server);
    server.GET["/json"] = [](const http::HttpRequest& request) {
        return http::HttpResponse::ok(http::HttpResponseBody::json({{"method", request.method}, {"url", request.url}}));
    };
    server.start();
    std::cout << server.port() << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
    }
    server.stop();
}
