// Feeds arbitrary bytes as the header block (and body) of a request whose
// request line is valid, so that the fuzzer spends its time on header lines,
// content-length and chunked framing.
#include "FuzzSupport.h"
#include "http/HttpParser.h"
#include "http/HttpParserError.h"
#include "http/SocketError.h"
#include "http/StringHelpers.h"

using namespace http;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string stream = "POST /upload HTTP/1.1\r\n";
    stream += fuzz::input(data, size);
    fuzz::SocketFeed feed(stream);
    const HttpLimits limits{.maxLineLength = 1024, .maxHeaderCount = 32, .maxBodySize = 8192};
    try {
        const HttpRequest request = HttpParser(limits).readHttpRequest(feed.socket());
        fuzz::require(request.method == "POST" && request.url == "/upload");
        fuzz::require(request.body.size() <= limits.maxBodySize);
        for (const auto& [name, value] : request.headers) {
            fuzz::require(!name.empty() && name.find(':') == std::string::npos);
            fuzz::require(trim(value) == value);
        }
        const auto length = request.headers.find("content-length");
        if (length != request.headers.end() && !request.headers.count("transfer-encoding")) {
            // An accepted length is plain digits and the body has exactly that many bytes.
            std::uint64_t expected = 0;
            for (char c : length->second) {
                fuzz::require(c >= '0' && c <= '9');
                expected = expected * 10 + static_cast<std::uint64_t>(c - '0');
            }
            fuzz::require(expected == request.body.size());
        }
    } catch (const HttpParserError&) {
    } catch (const SocketError&) {
    }
    return 0;
}
