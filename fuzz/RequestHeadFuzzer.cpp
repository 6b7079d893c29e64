// Feeds arbitrary bytes to the request reader as one connection's stream and
// reads pipelined requests until the reader gives up.
#include <cctype>

#include "FuzzSupport.h"
#include "http/HttpParser.h"
#include "http/HttpParserError.h"
#include "http/SocketError.h"

using namespace http;

namespace {

void checkRequest(const HttpRequest& request, const HttpLimits& limits) {
    fuzz::require(!request.method.empty() && request.method.find(' ') == std::string::npos);
    fuzz::require(!request.url.empty() && request.url.find(' ') == std::string::npos);
    fuzz::require(request.headers.size() <= limits.maxHeaderCount);
    fuzz::require(request.body.size() <= limits.maxBodySize);
    fuzz::require(request.address == std::string() && request.params.empty());
    for (const auto& [name, value] : request.headers) {
        for (char c : name) fuzz::require(!std::isupper(static_cast<unsigned char>(c)));
        fuzz::require(value.empty() || (value.front() != ' ' && value.back() != ' '));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SocketFeed feed(fuzz::input(data, size));
    const HttpLimits limits{.maxLineLength = 512, .maxHeaderCount = 16, .maxBodySize = 4096};
    const HttpParser parser(limits);
    try {
        for (;;) {
            const HttpRequest request = parser.readHttpRequest(feed.socket());
            checkRequest(request, limits);
            HttpParser::supportsKeepAlive(request.headers);
        }
    } catch (const HttpParserError& error) {
        fuzz::require(error.kind() != HttpParserError::Kind::readBodyFailed);
    } catch (const SocketError& error) {
        fuzz::require(error.kind() == SocketError::Kind::recvFailed || error.kind() == SocketError::Kind::writeFailed);
    }
    return 0;
}
