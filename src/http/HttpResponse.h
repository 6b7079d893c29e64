#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "http/HttpResponseBody.h"

namespace http {

// What a route handler answers. Every kind has a status code, a reason
// phrase, a header map (always with "Server") and an optional body.
class HttpResponse {
public:
    using Headers = std::map<std::string, std::string>;
    enum class Kind {
        ok, created, accepted, movedPermanently, badRequest, unauthorized,
        forbidden, notFound, internalServerError, raw,
    };

    static HttpResponse ok(HttpResponseBody body);
    static HttpResponse created() { return HttpResponse(Kind::created); }
    static HttpResponse accepted() { return HttpResponse(Kind::accepted); }
    static HttpResponse movedPermanently(std::string location);
    static HttpResponse badRequest() { return HttpResponse(Kind::badRequest); }
    static HttpResponse unauthorized() { return HttpResponse(Kind::unauthorized); }
    static HttpResponse forbidden() { return HttpResponse(Kind::forbidden); }
    static HttpResponse notFound() { return HttpResponse(Kind::notFound); }
    static HttpResponse internalServerError() { return HttpResponse(Kind::internalServerError); }
    // Code and phrase are written unchecked; `headers` override "Server".
    static HttpResponse raw(int statusCode, std::string reasonPhrase, std::optional<Headers> headers = std::nullopt,
                            std::optional<std::string> body = std::nullopt);

    // A 200 answer whose body is the file at `path`, opened now and sent from
    // disk a piece at a time, so that its size never weighs on memory; none
    // when the file cannot be opened.
    static std::optional<HttpResponse> file(const std::string& path, Headers headers);

    // "Siderama " followed by the build's version.
    static const std::string& serverName();

    Kind kind() const { return kind_; }
    int statusCode() const;
    std::string reasonPhrase() const;
    Headers headers() const;
    std::optional<std::string> body() const;
    // The open file a file() answer sends (its descriptor), else none.
    const std::shared_ptr<const int>& bodyFile() const { return file_; }

private:
    explicit HttpResponse(Kind kind) : kind_(kind) {}

    Kind kind_;
    std::optional<HttpResponseBody> content_;  // ok
    std::string text_;                          // Location, or the raw phrase
    int rawCode_ = 0;
    std::optional<Headers> rawHeaders_;
    std::optional<std::string> rawBody_;
    std::shared_ptr<const int> file_;
};

}  // namespace http
