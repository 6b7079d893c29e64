#include "http/HttpResponseBody.h"

#include <cmath>

#include "http/SerializationError.h"

namespace http {

namespace {

// Only finite numbers, texts, booleans, null and containers are JSON.
bool isValidValue(const nlohmann::json& value) {
    if (value.is_binary() || value.is_discarded()) return false;
    if (value.is_number_float()) return std::isfinite(value.get<double>());
    if (value.is_structured()) {
        for (const auto& item : value)
            if (!isValidValue(item)) return false;
    }
    return true;
}

std::string serialise(const nlohmann::json& value) {
    if (!value.is_structured() || !isValidValue(value)) throw SerializationError(SerializationError::Kind::invalidObject);
    return value.dump(2);
}

}  // namespace

HttpResponseBody::HttpResponseBody(Kind kind, nlohmann::json json, std::string text,
                                   std::function<std::string()> convert)
    : kind_(kind), json_(std::move(json)), text_(std::move(text)), convert_(std::move(convert)) {}

HttpResponseBody HttpResponseBody::json(nlohmann::json value) { return {Kind::json, std::move(value), {}, {}}; }

HttpResponseBody HttpResponseBody::html(std::string content) { return {Kind::html, {}, std::move(content), {}}; }

HttpResponseBody HttpResponseBody::text(std::string content) { return {Kind::text, {}, std::move(content), {}}; }

std::string HttpResponseBody::data() const {
    try {
        switch (kind_) {
        case Kind::json: return serialise(json_);
        case Kind::html: return "<html><meta charset=\"UTF-8\"><body>" + text_ + "</body></html>";
        case Kind::text: return text_;
        case Kind::custom: return convert_();
        }
    } catch (const std::exception& error) {
        return std::string("Serialisation error: ") + error.what();
    }
    return {};
}

}  // namespace http
