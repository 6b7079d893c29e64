#include <gtest/gtest.h>

#include <cmath>

#include "http/HttpResponse.h"

using namespace http;
using Headers = HttpResponse::Headers;

namespace {

const std::string server = "Siderama " SIDERAMA_TEST_VERSION;

}  // namespace

TEST(Response, ServerHeaderCarriesTheVersion) { EXPECT_EQ(HttpResponse::serverName(), server); }

TEST(Response, BodilessKindsHaveTheirCodesAndPhrases) {
    const std::vector<std::tuple<HttpResponse, int, std::string>> cases{
        {HttpResponse::created(), 201, "Created"},
        {HttpResponse::accepted(), 202, "Accepted"},
        {HttpResponse::badRequest(), 400, "Bad Request"},
        {HttpResponse::unauthorized(), 401, "Unauthorized"},
        {HttpResponse::forbidden(), 403, "Forbidden"},
        {HttpResponse::notFound(), 404, "Not Found"},
        {HttpResponse::internalServerError(), 500, "Internal Server Error"},
    };
    for (const auto& [response, code, phrase] : cases) {
        EXPECT_EQ(response.statusCode(), code);
        EXPECT_EQ(response.reasonPhrase(), phrase);
        EXPECT_EQ(response.headers(), (Headers{{"Server", server}}));
        EXPECT_EQ(response.body(), std::nullopt);
    }
}

TEST(Response, MovedPermanentlyHasALocationAndNoBody) {
    const auto response = HttpResponse::movedPermanently("/next");
    EXPECT_EQ(response.statusCode(), 301);
    EXPECT_EQ(response.reasonPhrase(), "Moved Permanently");
    EXPECT_EQ(response.headers(), (Headers{{"Server", server}, {"Location", "/next"}}));
    EXPECT_EQ(response.body(), std::nullopt);
}

TEST(Response, HtmlIsWrappedInAPage) {
    const auto response = HttpResponse::ok(HttpResponseBody::html("a<b>c"));
    EXPECT_EQ(response.statusCode(), 200);
    EXPECT_EQ(response.reasonPhrase(), "OK");
    EXPECT_EQ(response.body(), "<html><meta charset=\"UTF-8\"><body>a<b>c</body></html>");
    EXPECT_EQ(response.headers(), (Headers{{"Server", server}, {"Content-Type", "text/html"}}));
}

TEST(Response, TextHasNoContentType) {
    const auto response = HttpResponse::ok(HttpResponseBody::text("h\xC3\xA9"));
    EXPECT_EQ(response.body(), "h\xC3\xA9");
    EXPECT_EQ(response.headers(), (Headers{{"Server", server}}));
}

TEST(Response, JsonIsPrettyPrinted) {
    const nlohmann::json value = {{"status", "success"}, {"list", {1, 2}}};
    const auto response = HttpResponse::ok(HttpResponseBody::json(value));
    EXPECT_EQ(response.body(), value.dump(2));
    EXPECT_EQ(nlohmann::json::parse(*response.body()), value);
    EXPECT_EQ(response.headers(), (Headers{{"Server", server}, {"Content-Type", "application/json"}}));
    EXPECT_EQ(HttpResponse::ok(HttpResponseBody::json(nlohmann::json::array())).body(), "[]");
}

TEST(Response, InvalidJsonBecomesAnErrorText) {
    const std::string invalid = "Serialisation error: invalidObject";
    EXPECT_EQ(HttpResponse::ok(HttpResponseBody::json("plain text")).body(), invalid);
    EXPECT_EQ(HttpResponse::ok(HttpResponseBody::json(42)).body(), invalid);
    EXPECT_EQ(HttpResponse::ok(HttpResponseBody::json({{"x", NAN}})).body(), invalid);
    EXPECT_EQ(HttpResponse::ok(HttpResponseBody::json({{"x", {1, INFINITY}}})).body(), invalid);
    const auto badText = HttpResponse::ok(HttpResponseBody::json({{"x", "\xFF"}}));
    EXPECT_TRUE(badText.body()->starts_with("Serialisation error: "));
    EXPECT_EQ(badText.statusCode(), 200);
    EXPECT_EQ(badText.headers().at("Content-Type"), "application/json");
}

TEST(Response, CustomBodiesUseTheirConversion) {
    const auto fine = HttpResponseBody::custom<int>(7, [](const int& n) { return std::to_string(n * 6); });
    EXPECT_EQ(HttpResponse::ok(fine).body(), "42");
    EXPECT_EQ(HttpResponse::ok(fine).headers(), (Headers{{"Server", server}}));
    const auto failing = HttpResponseBody::custom<int>(
        1, [](const int&) -> std::string { throw std::runtime_error("cannot convert"); });
    EXPECT_EQ(HttpResponse::ok(failing).body(), "Serialisation error: cannot convert");
}

TEST(Response, RawPassesEverythingThrough) {
    const auto bare = HttpResponse::raw(299, "Whatever");
    EXPECT_EQ(bare.statusCode(), 299);
    EXPECT_EQ(bare.reasonPhrase(), "Whatever");
    EXPECT_EQ(bare.headers(), (Headers{{"Server", server}}));
    EXPECT_EQ(bare.body(), std::nullopt);
    EXPECT_EQ(HttpResponse::raw(299, "W", Headers{{"Server", "X"}}).headers(), (Headers{{"Server", "X"}}));
    EXPECT_EQ(HttpResponse::raw(299, "W", Headers{{"server", "X"}}).headers(),
              (Headers{{"Server", server}, {"server", "X"}}));
    EXPECT_EQ(HttpResponse::raw(-1, "", std::nullopt, "bytes").body(), "bytes");
}
