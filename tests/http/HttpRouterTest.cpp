#include <gtest/gtest.h>

#include "http/HttpServer.h"

using namespace http;

namespace {

HttpHandler answering(std::string text) {
    return [text](const HttpRequest&) { return HttpResponse::ok(HttpResponseBody::text(text)); };
}

std::string answer(const HttpServer& server, const std::string& method, const std::string& url) {
    auto [params, handler] = server.select(method, url);
    HttpRequest request;
    request.params = params;
    const auto response = handler(request);
    return response.statusCode() == 404 ? "404" : *response.body();
}

// The remote solving service's table.
class ApplicationRoutes : public ::testing::Test {
protected:
    ApplicationRoutes() {
        server.GET["/"] = answering("form");
        server.POST["/api/upload"] = answering("post");
        server.PUT["/api/upload"] = answering("put");
        server.GET["/api/status"] = answering("status");
    }
    HttpServer server;
};

}  // namespace

TEST_F(ApplicationRoutes, TableIsSortedBySegmentCount) {
    const auto routes = server.routes();
    ASSERT_EQ(routes.size(), 4u);
    EXPECT_EQ(routes[0].path, "/");
    EXPECT_EQ(routes[1].method, "POST");
    EXPECT_EQ(routes[2].method, "PUT");
    EXPECT_EQ(routes[3].path, "/api/status");
}

TEST_F(ApplicationRoutes, SelectsByMethodAndPath) {
    EXPECT_EQ(answer(server, "GET", "/"), "form");
    EXPECT_EQ(answer(server, "GET", "/api/status"), "status");
    EXPECT_EQ(answer(server, "GET", "//api//status/"), "status");
    EXPECT_EQ(answer(server, "PUT", "/api/upload"), "put");
    EXPECT_EQ(answer(server, "POST", "/api/upload"), "post");
}

TEST_F(ApplicationRoutes, UnmatchedRequestsAreNotFound) {
    EXPECT_EQ(answer(server, "GET", "/api/status/more"), "404");
    EXPECT_EQ(answer(server, "DELETE", "/api/status"), "404");
    EXPECT_EQ(answer(server, "GET", "/api/upload"), "404");
    EXPECT_EQ(answer(server, "get", "/api/status"), "404");
}

TEST_F(ApplicationRoutes, QueryTextIsNotPartOfTheRoute) {
    EXPECT_EQ(answer(server, "GET", "/api/status?x=1"), "status");
    EXPECT_EQ(answer(server, "GET", "/api/status?x=/a/b"), "status");
    EXPECT_EQ(answer(server, "GET", "/?"), "form");
}

TEST_F(ApplicationRoutes, ShorterUrlsDoNotMatchLongerPatterns) {
    EXPECT_EQ(answer(server, "GET", "/api"), "404");
    EXPECT_EQ(answer(server, "POST", "/"), "404");
}

TEST(Router, CapturesAreStoredUndecoded) {
    HttpServer server;
    server.GET["/files/:name"] = [](const HttpRequest& request) {
        return HttpResponse::ok(HttpResponseBody::text(request.params.at("name")));
    };
    server.GET["/pair/:a/:a"] = [](const HttpRequest& request) {
        return HttpResponse::ok(HttpResponseBody::text(request.params.at("a")));
    };
    EXPECT_EQ(answer(server, "GET", "/files/a.fits"), "a.fits");
    EXPECT_EQ(answer(server, "GET", "/files/a%20b"), "a%20b");
    EXPECT_EQ(answer(server, "GET", "/pair/1/2"), "2");
    EXPECT_EQ(answer(server, "GET", "/files"), "404");
}

TEST(Router, AsteriskIsALiteral) {
    HttpServer server;
    server.GET["/*"] = answering("star");
    EXPECT_EQ(answer(server, "GET", "/*"), "star");
    EXPECT_EQ(answer(server, "GET", "/x"), "404");
}

TEST(Router, AnyMethodRoutesAnswerEveryMethod) {
    HttpServer server;
    server["/any"] = answering("any");
    server.GET["/bound"] = answering("bound");
    EXPECT_EQ(answer(server, "GET", "/any"), "any");
    EXPECT_EQ(answer(server, "POST", "/any"), "any");
    EXPECT_EQ(answer(server, "BREW", "/any"), "any");
    EXPECT_EQ(answer(server, "get", "/any"), "any");
    EXPECT_EQ(answer(server, "get", "/bound"), "404");
}

TEST(Router, EarlierRegistrationWinsAndRemovalTakesAll) {
    HttpServer server;
    server.GET["/x"] = answering("first");
    server.GET["/x"] = answering("second");
    server.GET["/:y"] = answering("capture");
    EXPECT_EQ(answer(server, "GET", "/x"), "first");
    server.GET["/x"] = nullptr;
    EXPECT_EQ(answer(server, "GET", "/x"), "capture");
    EXPECT_EQ(server.routes().size(), 1u);
    server.POST["/:y"] = nullptr;  // other method: nothing removed
    server["/:y"] = nullptr;       // any-method entry: nothing removed
    EXPECT_EQ(server.routes().size(), 1u);
}

TEST(Router, ListingUsesTheCleanPath) {
    HttpServer server;
    server.UPDATE["//a//b/"] = answering("ab");
    server.HEAD["/"] = answering("root");
    const auto routes = server.routes();
    ASSERT_EQ(routes.size(), 2u);
    EXPECT_EQ(routes[0].path, "/");
    EXPECT_EQ(routes[0].method, "HEAD");
    EXPECT_EQ(routes[1].path, "/a/b");
    EXPECT_EQ(routes[1].method, "UPDATE");
    EXPECT_EQ(answer(server, "UPDATE", "/a/b"), "ab");
}

TEST(Router, BaseServerAnswersNotFound) {
    HttpServerIO io;
    auto [params, handler] = io.select("GET", "/");
    EXPECT_TRUE(params.empty());
    EXPECT_EQ(handler(HttpRequest{}).statusCode(), 404);
}
