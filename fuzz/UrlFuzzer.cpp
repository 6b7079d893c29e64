// Feeds arbitrary bytes as a request target: routing with captures, and the
// text helpers it builds on.
#include "FuzzSupport.h"
#include "http/HttpServer.h"
#include "http/StringHelpers.h"

using namespace http;

namespace {

const HttpServer& server() {
    static HttpServer* const instance = [] {
        auto* routes = new HttpServer;
        const HttpHandler answer = [](const HttpRequest&) { return HttpResponse::accepted(); };
        routes->GET["/"] = answer;
        routes->GET["/api/status"] = answer;
        routes->POST["/api/upload"] = answer;
        routes->GET["/files/:name"] = answer;
        routes->GET["/a/:x/b/:y"] = answer;
        (*routes)["/any/:x"] = answer;
        return routes;
    }();
    return *instance;
}

void checkTextHelpers(std::string_view text) {
    for (const auto& piece : split(text, '/')) fuzz::require(!piece.empty() && piece.find('/') == std::string::npos);
    const std::string trimmed = trim(text);
    fuzz::require(trim(trimmed) == trimmed && trimmed.size() <= text.size());
    const std::string decoded = removePercentEncoding(text);
    if (isValidUtf8(text)) fuzz::require(isValidUtf8(decoded));
    fuzz::require(decoded.size() <= text.size());
    fuzz::require(replace(text, '+', ' ').find('+') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string url(fuzz::input(data, size));
    checkTextHelpers(url);
    for (const char* method : {"GET", "POST", "PUT"}) {
        auto [params, handler] = server().select(method, url);
        fuzz::require(static_cast<bool>(handler));
        const int status = handler(HttpRequest{}).statusCode();
        fuzz::require(status == 202 || status == 404);
        for (const auto& [name, value] : params) fuzz::require(!value.empty() && value.find('/') == std::string::npos);
    }
    return 0;
}
