#include "http/HttpParserError.h"

namespace http {

namespace {

const char* caseName(HttpParserError::Kind kind) {
    using Kind = HttpParserError::Kind;
    switch (kind) {
    case Kind::invalidStatusLine: return "invalidStatusLine";
    case Kind::readBodyFailed: return "readBodyFailed";
    case Kind::lineTooLong: return "lineTooLong";
    case Kind::tooManyHeaders: return "tooManyHeaders";
    case Kind::bodyTooLarge: return "bodyTooLarge";
    case Kind::invalidContentLength: return "invalidContentLength";
    case Kind::invalidChunkedBody: return "invalidChunkedBody";
    case Kind::unsupportedTransferEncoding: return "unsupportedTransferEncoding";
    case Kind::invalidRequest: return "invalidRequest";
    }
    return "unknown";
}

}  // namespace

HttpParserError::HttpParserError(Kind kind, std::string payload)
    : std::runtime_error(std::string(caseName(kind)) + "(\"" + payload + "\")"), kind_(kind), payload_(std::move(payload)) {}

int HttpParserError::statusCode() const {
    switch (kind_) {
    case Kind::lineTooLong:
    case Kind::tooManyHeaders: return 431;
    case Kind::bodyTooLarge: return 413;
    case Kind::invalidContentLength:
    case Kind::invalidChunkedBody:
    case Kind::unsupportedTransferEncoding:
    case Kind::invalidRequest: return 400;
    case Kind::invalidStatusLine:
    case Kind::readBodyFailed: return 0;
    }
    return 0;
}

std::string HttpParserError::reasonPhrase() const {
    switch (statusCode()) {
    case 431: return "Request Header Fields Too Large";
    case 413: return "Payload Too Large";
    case 400: return "Bad Request";
    default: return "";
    }
}

}  // namespace http
