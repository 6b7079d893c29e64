#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace http {

class BodyFile;

// One parsed request, handed by value to a route handler.
struct HttpRequest {
    using Pairs = std::vector<std::pair<std::string, std::string>>;

    // One part of a multipart/form-data body.
    struct MultiPart {
        std::map<std::string, std::string> headers;  // lower-cased name -> trimmed value
        std::string_view body;                       // a view of the request's body

        // The form field's name and the uploaded file's name: the "name"
        // parameter and the file name of the content-disposition header
        // (HeaderParameters).
        std::optional<std::string> name() const { return dispositionParameter("name"); }
        std::optional<std::string> fileName() const;
        std::optional<std::string> dispositionParameter(std::string_view parameter) const;
    };

    std::string url;                                       // request target as sent, query included
    std::string method;                                    // as sent, case kept
    std::unordered_map<std::string, std::string> headers;  // lower-cased name -> trimmed value
    std::string body;                                      // raw body bytes
    std::optional<std::string> address = std::string();    // peer address, if known
    std::map<std::string, std::string> params;             // captures of the matched route
    std::shared_ptr<BodyFile> bodyFile;  // the body, when its route streams it to a file (body stays empty)

    // The file name of the request's own content-disposition header (an
    // upload sent as the whole body), read as a part's fileName() is.
    std::optional<std::string> dispositionFileName() const;
    // Name/value pairs of an application/x-www-form-urlencoded body.
    Pairs parseUrlencodedForm() const;
    // Parts of a multipart/form-data body, valid while this request lives.
    std::vector<MultiPart> parseMultiPartFormData() const;
};

}  // namespace http
