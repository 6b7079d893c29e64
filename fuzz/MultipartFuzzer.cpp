// Feeds arbitrary bytes to the two form readers: the first line is the
// content-type value, the rest the body.
#include "FuzzSupport.h"
#include "http/HttpRequest.h"
#include "http/StringHelpers.h"

using namespace http;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::input(data, size);
    const std::size_t lineEnd = bytes.find('\n');
    HttpRequest request;
    request.headers["content-type"] = std::string(bytes.substr(0, lineEnd));
    if (lineEnd != std::string_view::npos) request.body = std::string(bytes.substr(lineEnd + 1));

    std::size_t total = 0;
    for (const auto& part : request.parseMultiPartFormData()) {
        total += part.body.size();
        for (const auto& [name, value] : part.headers) fuzz::require(!name.empty() && trim(value) == value);
        // Part headers are read as ISO 8859-1, so everything taken from them is valid UTF-8.
        if (const auto name = part.name()) fuzz::require(isValidUtf8(*name));
        if (const auto fileName = part.fileName()) fuzz::require(isValidUtf8(*fileName));
    }
    fuzz::require(total <= request.body.size());

    request.headers["content-type"] = "application/x-www-form-urlencoded";
    for (const auto& [name, value] : request.parseUrlencodedForm()) {
        fuzz::require(isValidUtf8(name) && isValidUtf8(value));
        // "+" means a space; a literal plus can only come from an escape.
        const bool plus = name.find('+') != std::string::npos || value.find('+') != std::string::npos;
        fuzz::require(!plus || request.body.find('%') != std::string::npos);
    }
    return 0;
}
