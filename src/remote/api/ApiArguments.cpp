#include "remote/api/ApiArguments.h"

#include "http/FormReader.h"
#include "http/HttpRequest.h"
#include "http/BodyFile.h"

#include <cctype>
#include <charconv>

namespace siderama {

namespace {

constexpr const char* field = "request-json";

std::optional<double> parseNumber(const std::string& text) {
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return std::nullopt;
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data() + start + (text[start] == '+'), end, value);
    if (error != std::errc() || text.find_first_not_of(" \t", std::size_t(stop - text.data())) != std::string::npos)
        return std::nullopt;
    return value;
}

std::optional<double> asNumber(const nlohmann::json& value) {
    if (value.is_number()) return value.get<double>();
    if (value.is_boolean()) return value.get<bool>() ? 1.0 : 0.0;
    if (value.is_string()) return parseNumber(value.get<std::string>());
    return std::nullopt;
}

// Whether the brackets of JSON `text` nest at most `depth` deep, so that
// neither the parser nor a copy of the value recurses without bound.
bool nestsWithin(std::string_view text, int depth) {
    int level = 0;
    bool quoted = false, escaped = false;
    for (const char c : text) {
        if (quoted) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '[' || c == '{') {
            if (++level > depth) return false;
        } else if (c == ']' || c == '}') {
            --level;
        }
    }
    return true;
}

// A form streamed to a file is read from it only when small enough to be
// request-json and nothing else.
http::HttpRequest::Pairs urlencodedFields(const http::HttpRequest& request, std::size_t limit) {
    if (!request.bodyFile) return request.parseUrlencodedForm();
    const std::string_view body = request.bodyFile->view();
    if (body.size() > 3 * limit + 32) return {};  // percent-encoding triples a byte at most
    return http::FormReader::urlencoded(request.headers, body);
}

}  // namespace

ApiArguments::ApiArguments(nlohmann::json object) : json(std::move(object)) {}

std::optional<ApiArguments> ApiArguments::from(const http::HttpRequest& request, std::size_t limit) {
    std::optional<std::string> text;
    std::optional<File> file;
    for (const auto& [name, value] : urlencodedFields(request, limit))
        if (name == field) text = value;
    for (const auto& part : request.parseMultiPartFormData()) {
        if (part.name() == field) text = std::string(part.body);
        else if (part.fileName()) file = File{*part.fileName(), part.body};
    }
    if (!text) return std::nullopt;
    ApiArguments arguments;
    arguments.upload = std::move(file);
    if (text->size() > limit) {
        arguments.problem = "request-json is longer than " + std::to_string(limit / 1024) + " kB";
        return arguments;
    }
    if (!nestsWithin(*text, deepestNesting)) {
        arguments.problem = "request-json nests deeper than " + std::to_string(deepestNesting) + " levels";
        return arguments;
    }
    const nlohmann::json parsed = nlohmann::json::parse(*text, nullptr, false);
    if (parsed.is_object()) arguments.json = parsed;
    else arguments.problem = "request-json is not a JSON object";
    return arguments;
}

nlohmann::json ApiArguments::withoutStars() const {
    nlohmann::json kept = json;
    kept.erase("x");
    kept.erase("y");
    return kept;
}

const nlohmann::json* ApiArguments::find(const char* key) const {
    const auto found = json.find(key);
    if (found == json.end() || found->is_null()) return nullptr;
    return &*found;
}

std::optional<double> ApiArguments::number(const char* key) const {
    const nlohmann::json* value = find(key);
    return value ? asNumber(*value) : std::nullopt;
}

std::optional<bool> ApiArguments::flag(const char* key) const {
    const nlohmann::json* value = find(key);
    if (!value) return std::nullopt;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_number()) return value->get<double>() != 0;
    if (!value->is_string()) return std::nullopt;
    std::string word = value->get<std::string>();
    for (char& c : word) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (word == "true" || word == "yes" || word == "1" || word == "on") return true;
    if (word == "false" || word == "no" || word == "0" || word == "off" || word.empty()) return false;
    return std::nullopt;
}

std::optional<std::string> ApiArguments::text(const char* key) const {
    const nlohmann::json* value = find(key);
    if (!value) return std::nullopt;
    if (value->is_string()) return value->get<std::string>();
    return value->dump();
}

std::optional<std::vector<double>> ApiArguments::numbers(const char* key) const {
    const nlohmann::json* value = find(key);
    if (!value || !value->is_array()) return std::nullopt;
    std::vector<double> list;
    for (const auto& entry : *value) {
        const std::optional<double> number = asNumber(entry);
        if (!number) return std::nullopt;
        list.push_back(*number);
    }
    return list;
}

}  // namespace siderama
