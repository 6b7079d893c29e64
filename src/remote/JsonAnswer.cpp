#include "remote/JsonAnswer.h"

namespace siderama {

http::HttpResponse JsonAnswer::of(nlohmann::json value) {
    return http::HttpResponse::ok(http::HttpResponseBody::json(std::move(value)));
}

http::HttpResponse JsonAnswer::error(const std::string& message) {
    return of({{"status", "error"}, {"errormessage", message}});
}

}  // namespace siderama
