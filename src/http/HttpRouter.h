#pragma once

#include <functional>
#include <map>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"

namespace http {

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;
using RouteParams = std::map<std::string, std::string>;

// Route table: (optional method, path pattern) -> handler. Pattern segments
// are literals or ":name" captures. Entries are kept sorted by segment count,
// registration order among equals. A URL matches a pattern only with the same
// number of segments; its query text takes no part in routing.
class HttpRouter {
public:
    struct Listing {
        std::optional<std::string> method;
        std::string path;
    };

    virtual ~HttpRouter() = default;

    virtual std::vector<Listing> routes() const;
    // An absent method means any method.
    virtual void registerRoute(std::optional<std::string> method, const std::string& path, HttpHandler handler);
    virtual void unregisterRoute(const std::optional<std::string>& method, const std::string& path);
    // The captures and handler of the first matching entry for the URL's path.
    virtual std::optional<std::pair<RouteParams, HttpHandler>> select(const std::optional<std::string>& method,
                                                                      const std::string& url) const;
    virtual std::optional<RouteParams> matchParams(const std::vector<std::string>& pattern,
                                                   const std::vector<std::string>& valueTokens) const;

private:
    struct Entry {
        std::optional<std::string> method;
        std::vector<std::string> pattern;
        HttpHandler handler;
    };

    mutable std::shared_mutex mutex_;
    std::vector<Entry> handlers_;
};

}  // namespace http
