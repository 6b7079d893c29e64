#pragma once

#include "http/HttpResponse.h"

#include <nlohmann/json.hpp>
#include <string>

namespace siderama {

// The answers of the remote routes: JSON with HTTP status 200, errors told
// inside as {"status": "error", "errormessage": ...}.
struct JsonAnswer {
    static http::HttpResponse of(nlohmann::json value);
    static http::HttpResponse error(const std::string& message);
};

}  // namespace siderama
