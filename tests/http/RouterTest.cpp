#include <gtest/gtest.h>

#include "http/HttpServer.h"

using namespace http;

namespace {

HttpHandler answering(std::string text) {
    return [text](const HttpRequest& request) {
        std::string captures;
        for (const auto& [name, value] : request.params) captures += " " + name + "=" + value;
        return HttpResponse::ok(HttpResponseBody::text(text + captures));
    };
}

std::string answer(const HttpServerIO& server, const std::string& method, const std::string& url) {
    auto [params, handler] = server.select(method, url);
    HttpRequest request;
    request.params = params;
    const auto response = handler(request);
    return response.statusCode() == 404 ? "404" : *response.body();
}

// The remote solving service's routes and the other pattern forms: method,
// path, answer (with captures) or 404.
TEST(Router, RoutingTable) {
    HttpServer server;
    server.GET["/"] = answering("form");
    server.POST["/api/upload"] = answering("post");
    server.PUT["/api/upload"] = answering("put");
    server.GET["/api/status"] = answering("status");
    server.GET["/files/:name"] = answering("file");
    server.GET["/pair/:a/:a"] = answering("pair");
    server.GET["/*"] = answering("star");
    server["/any"] = answering("any");
    server.GET["/x"] = answering("first");
    server.GET["/x"] = answering("second");
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        {"GET", "/", "form"},
        {"GET", "/?", "form"},
        {"GET", "/api/status", "status"},
        {"GET", "//api//status/", "status"},
        {"GET", "/api/status?x=/a/b", "status"},
        {"PUT", "/api/upload", "put"},
        {"POST", "/api/upload", "post"},
        {"GET", "/api/status/more", "404"},
        {"DELETE", "/api/status", "404"},
        {"GET", "/api/upload", "404"},
        {"get", "/api/status", "404"},
        {"GET", "/api", "404"},
        {"POST", "/", "404"},
        {"GET", "/files/a%20b", "file name=a%20b"},
        {"GET", "/files", "404"},
        {"GET", "/pair/1/2", "pair a=2"},
        {"GET", "/*", "star"},
        {"GET", "/y", "404"},
        {"BREW", "/any", "any"},
        {"get", "/any", "any"},
        {"GET", "/x", "first"},
    };
    for (const auto& [method, url, expected] : cases) EXPECT_EQ(answer(server, method, url), expected) << method << " " << url;
    EXPECT_EQ(answer(HttpServerIO(), "GET", "/"), "404");
}

TEST(Router, ListingIsSortedAndRemovalTakesEveryEntryOfThatMethod) {
    HttpServer server;
    server.UPDATE["//a//b/"] = answering("ab");
    server.GET["/x"] = answering("first");
    server.GET["/x"] = answering("second");
    server.HEAD["/"] = answering("root");
    server.GET["/x"] = nullptr;
    server.POST["/"] = nullptr;  // other method: nothing removed
    server["/"] = nullptr;       // any-method entry: nothing removed
    const auto routes = server.routes();
    ASSERT_EQ(routes.size(), 2u);
    EXPECT_EQ(routes[0].method.value_or("*") + " " + routes[0].path, "HEAD /");
    EXPECT_EQ(routes[1].method.value_or("*") + " " + routes[1].path, "UPDATE /a/b");
    EXPECT_EQ(answer(server, "GET", "/x"), "404");
}

}  // namespace
