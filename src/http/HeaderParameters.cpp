#include "http/HeaderParameters.h"

#include "http/StringHelpers.h"

namespace http {

namespace {

// A quoted string's text from just after its opening quote, and the position
// after its closing quote (the end for an unterminated one).
std::pair<std::string, std::size_t> quotedString(std::string_view value, std::size_t at) {
    std::string text;
    for (; at < value.size(); ++at) {
        if (value[at] == '"') return {text, at + 1};
        if (value[at] == '\\' && at + 1 < value.size() && (value[at + 1] == '"' || value[at + 1] == '\\')) ++at;
        text += value[at];
    }
    return {text, at};
}

// A parameter's value starting at `at`, and where it ends.
std::pair<std::string, std::size_t> parameterValue(std::string_view value, std::size_t at) {
    while (at < value.size() && (value[at] == ' ' || value[at] == '\t')) ++at;
    if (at < value.size() && value[at] == '"') return quotedString(value, at + 1);
    const std::size_t end = std::min(value.find(';', at), value.size());
    return {trim(value.substr(at, end - at)), end};
}

}  // namespace

HeaderParameters HeaderParameters::parse(std::string_view value) {
    HeaderParameters result;
    std::size_t at = std::min(value.find(';'), value.size());
    result.leading_ = trim(value.substr(0, at));
    while (at < value.size()) {
        const std::size_t start = at + 1;
        at = std::min(value.find_first_of("=;", start), value.size());
        if (at == value.size() || value[at] == ';') continue;  // a piece without "=" says nothing
        std::string name = toLower(trim(value.substr(start, at - start)));
        auto [text, end] = parameterValue(value, at + 1);
        result.parameters_.emplace_back(std::move(name), std::move(text));
        at = std::min(value.find(';', end), value.size());
    }
    return result;
}

std::optional<std::string> HeaderParameters::parameter(std::string_view name) const {
    std::optional<std::string> found;
    for (const auto& [key, text] : parameters_)
        if (key == name) found = text;
    return found;
}

std::optional<std::string> HeaderParameters::fileName() const {
    if (auto plain = parameter("filename")) return plain;
    const auto extended = parameter("filename*");
    if (!extended) return std::nullopt;
    const std::size_t quotes = extended->find("''");
    return removePercentEncoding(quotes == std::string::npos ? *extended : extended->substr(quotes + 2));
}

}  // namespace http
