#pragma once

#include <stdexcept>
#include <string>

namespace http {

// A request that cannot be read. Cases other than invalidStatusLine carry the
// HTTP status the server answers with before it closes the connection.
class HttpParserError : public std::runtime_error {
public:
    enum class Kind {
        invalidStatusLine,       // fewer than three request-line tokens: closed without answer
        readBodyFailed,          // reserved for body read failures
        lineTooLong,             // 431
        tooManyHeaders,          // 431
        bodyTooLarge,            // 413
        invalidContentLength,    // 400
        invalidChunkedBody,      // 400
        unsupportedTransferEncoding,  // 400
        invalidRequest,          // 400: malformed request line or header line
    };

    HttpParserError(Kind kind, std::string payload);

    Kind kind() const { return kind_; }
    const std::string& payload() const { return payload_; }
    // Status code to answer with, 0 for a silent close.
    int statusCode() const;
    std::string reasonPhrase() const;

private:
    Kind kind_;
    std::string payload_;
};

}  // namespace http
