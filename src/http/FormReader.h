#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "http/HttpRequest.h"

namespace http {

// Decoders for the two HTML form encodings. Both are pure and never fail:
// unusable input gives an empty list.
class FormReader {
public:
    using Headers = std::unordered_map<std::string, std::string>;

    static HttpRequest::Pairs urlencoded(const Headers& headers, std::string_view body);
    // Parts view `body`. `scanned` is told of each stretch of it searched
    // through, so that a caller can let a mapping's pages go.
    using Scanned = std::function<void(std::string_view)>;
    static std::vector<HttpRequest::MultiPart> multipart(const Headers& headers, std::string_view body,
                                                         const Scanned& scanned = {});
};

}  // namespace http
