#pragma once

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace http {

// The content of a successful response and how it becomes bytes.
class HttpResponseBody {
public:
    enum class Kind { json, html, text, custom };

    static HttpResponseBody json(nlohmann::json value);
    // `content` is placed unescaped inside a minimal UTF-8 page.
    static HttpResponseBody html(std::string content);
    static HttpResponseBody text(std::string content);
    // `convert` turns `value` into text; it may throw.
    template <typename T>
    static HttpResponseBody custom(T value, std::function<std::string(const T&)> convert) {
        auto held = std::make_shared<const T>(std::move(value));
        return HttpResponseBody(Kind::custom, {}, {}, [held, convert] { return convert(*held); });
    }

    Kind kind() const { return kind_; }

    // The body bytes. A serialisation failure becomes the text
    // "Serialisation error: " followed by the error's description.
    std::string data() const;

private:
    HttpResponseBody(Kind kind, nlohmann::json json, std::string text, std::function<std::string()> convert);

    Kind kind_;
    nlohmann::json json_;
    std::string text_;
    std::function<std::string()> convert_;
};

}  // namespace http
