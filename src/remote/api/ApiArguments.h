#pragma once

#include "http/HttpRequest.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace siderama {

// The arguments of one API request as clients send them: the JSON object in
// the `request-json` field of a form (urlencoded or multipart), and the
// uploaded file of a multipart form. Values are read leniently: numbers may
// come as strings, null means absent, booleans may be true, 1, "true", "yes".
class ApiArguments {
public:
    struct File {
        std::string name;       // as the client sent it, possibly a full path
        std::string_view data;  // a view of the request's body
    };

    // `request-json` of a request without star lists, and of an upload that
    // may carry its star list as JSON lists.
    static constexpr std::size_t smallLimit = 256 * 1024;
    static constexpr std::size_t starListLimit = 64 * 1024 * 1024;
    static constexpr int deepestNesting = 32;

    // The request's arguments, valid while it lives; none when it carries
    // no `request-json`. A field that is not a JSON object, is longer than
    // `limit` or nests deeper than `deepestNesting` gives an empty object
    // and an error.
    static std::optional<ApiArguments> from(const http::HttpRequest& request, std::size_t limit = smallLimit);
    explicit ApiArguments(nlohmann::json object = nlohmann::json::object());

    std::optional<double> number(const char* key) const;
    std::optional<bool> flag(const char* key) const;
    std::optional<std::string> text(const char* key) const;
    // A list of numbers; none when any entry is not a number.
    std::optional<std::vector<double>> numbers(const char* key) const;

    const nlohmann::json& object() const { return json; }
    const std::optional<File>& file() const { return upload; }
    // Why `request-json` could not be read; empty when it could.
    const std::string& error() const { return problem; }

    // Without the star list (`x` and `y`): what is kept of a submission.
    nlohmann::json withoutStars() const;

private:
    const nlohmann::json* find(const char* key) const;

    nlohmann::json json;
    std::optional<File> upload;
    std::string problem;
};

}  // namespace siderama
