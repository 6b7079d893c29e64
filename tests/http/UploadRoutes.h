#pragma once

#include <string>

#include "http/HttpServer.h"

namespace http::test {

// FNV-1a, to compare uploads without echoing them.
inline std::string checksum(const std::string& bytes) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return std::to_string(bytes.size()) + ":" + std::to_string(hash);
}

// PUT /upload answers the body's checksum; POST /upload lists the multipart
// parts as name=checksum lines; GET /hello answers hello.
inline void addUploadRoutes(HttpServer& server) {
    server.GET["/hello"] = [](const HttpRequest&) { return HttpResponse::ok(HttpResponseBody::text("hello")); };
    server.PUT["/upload"] = [](const HttpRequest& request) {
        return HttpResponse::ok(HttpResponseBody::text(checksum(request.body)));
    };
    server.POST["/upload"] = [](const HttpRequest& request) {
        std::string listing;
        for (const auto& part : request.parseMultiPartFormData())
            listing += part.name().value_or("?") + "=" + checksum(part.body) + "\n";
        return HttpResponse::ok(HttpResponseBody::text(listing));
    };
}

}  // namespace http::test
