#include "http/HttpRouter.h"

#include <algorithm>
#include <mutex>

#include "http/StringHelpers.h"

namespace http {

std::vector<HttpRouter::Listing> HttpRouter::routes() const {
    std::shared_lock lock(mutex_);
    std::vector<Listing> listing;
    for (const auto& entry : handlers_) {
        std::string path;
        for (const auto& segment : entry.pattern) path += "/" + segment;
        listing.push_back({entry.method, path.empty() ? "/" : path});
    }
    return listing;
}

void HttpRouter::registerRoute(std::optional<std::string> method, const std::string& path, HttpHandler handler) {
    std::unique_lock lock(mutex_);
    handlers_.push_back({std::move(method), split(path, '/'), std::move(handler)});
    std::stable_sort(handlers_.begin(), handlers_.end(),
                     [](const Entry& a, const Entry& b) { return a.pattern.size() < b.pattern.size(); });
}

void HttpRouter::unregisterRoute(const std::optional<std::string>& method, const std::string& path) {
    std::unique_lock lock(mutex_);
    const auto pattern = split(path, '/');
    std::erase_if(handlers_, [&](const Entry& entry) { return entry.method == method && entry.pattern == pattern; });
}

std::optional<std::pair<RouteParams, HttpHandler>> HttpRouter::select(const std::optional<std::string>& method,
                                                                      const std::string& url) const {
    const auto tokens = split(std::string_view(url).substr(0, url.find('?')), '/');
    std::shared_lock lock(mutex_);
    for (const auto& entry : handlers_) {
        if (entry.method && entry.method != method) continue;
        if (auto params = matchParams(entry.pattern, tokens)) return std::make_pair(std::move(*params), entry.handler);
    }
    return std::nullopt;
}

std::optional<RouteParams> HttpRouter::matchParams(const std::vector<std::string>& pattern,
                                                   const std::vector<std::string>& valueTokens) const {
    if (pattern.size() != valueTokens.size()) return std::nullopt;
    RouteParams params;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i].starts_with(':'))
            params[pattern[i].substr(1)] = valueTokens[i];
        else if (pattern[i] != valueTokens[i])
            return std::nullopt;
    }
    return params;
}

}  // namespace http
