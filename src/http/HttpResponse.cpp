#include "http/HttpResponse.h"

#ifndef SIDERAMA_VERSION
#define SIDERAMA_VERSION "1.0.3"
#endif

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace http {

HttpResponse HttpResponse::ok(HttpResponseBody body) {
    HttpResponse response(Kind::ok);
    response.content_ = std::move(body);
    return response;
}

HttpResponse HttpResponse::movedPermanently(std::string location) {
    HttpResponse response(Kind::movedPermanently);
    response.text_ = std::move(location);
    return response;
}

HttpResponse HttpResponse::raw(int statusCode, std::string reasonPhrase, std::optional<Headers> headers,
                               std::optional<std::string> body) {
    HttpResponse response(Kind::raw);
    response.rawCode_ = statusCode;
    response.text_ = std::move(reasonPhrase);
    response.rawHeaders_ = std::move(headers);
    response.rawBody_ = std::move(body);
    return response;
}

const std::string& HttpResponse::serverName() {
    static const std::string name = std::string("Siderama ") + SIDERAMA_VERSION;
    return name;
}

int HttpResponse::statusCode() const {
    switch (kind_) {
    case Kind::ok: return 200;
    case Kind::created: return 201;
    case Kind::accepted: return 202;
    case Kind::movedPermanently: return 301;
    case Kind::badRequest: return 400;
    case Kind::unauthorized: return 401;
    case Kind::forbidden: return 403;
    case Kind::notFound: return 404;
    case Kind::internalServerError: return 500;
    case Kind::raw: return rawCode_;
    }
    return 0;
}

std::string HttpResponse::reasonPhrase() const {
    switch (kind_) {
    case Kind::ok: return "OK";
    case Kind::created: return "Created";
    case Kind::accepted: return "Accepted";
    case Kind::movedPermanently: return "Moved Permanently";
    case Kind::badRequest: return "Bad Request";
    case Kind::unauthorized: return "Unauthorized";
    case Kind::forbidden: return "Forbidden";
    case Kind::notFound: return "Not Found";
    case Kind::internalServerError: return "Internal Server Error";
    case Kind::raw: return text_;
    }
    return {};
}

HttpResponse::Headers HttpResponse::headers() const {
    Headers headers{{"Server", serverName()}};
    if (kind_ == Kind::raw && rawHeaders_) {
        for (const auto& [name, value] : *rawHeaders_) headers[name] = value;
    } else if (kind_ == Kind::movedPermanently) {
        headers["Location"] = text_;
    } else if (kind_ == Kind::ok && content_->kind() == HttpResponseBody::Kind::json) {
        headers["Content-Type"] = "application/json";
    } else if (kind_ == Kind::ok && content_->kind() == HttpResponseBody::Kind::html) {
        headers["Content-Type"] = "text/html";
    }
    return headers;
}

std::optional<HttpResponse> HttpResponse::file(const std::string& path, Headers headers) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (descriptor < 0) return std::nullopt;
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        return std::nullopt;
    }
    HttpResponse response = raw(200, "OK", std::move(headers));
    response.file_ = std::shared_ptr<const int>(new int(descriptor), [](const int* owned) {
        ::close(*owned);
        delete owned;
    });
    return response;
}

std::optional<std::string> HttpResponse::body() const {
    if (kind_ == Kind::ok) return content_->data();
    if (kind_ == Kind::raw) return rawBody_;
    return std::nullopt;
}

}  // namespace http
