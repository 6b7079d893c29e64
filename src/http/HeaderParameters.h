#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace http {

// A header value made of a leading item and ";"-separated parameters, the
// form of Content-Type and Content-Disposition:
//   multipart/form-data; boundary=XyZ
//   form-data; name="image"; filename="C:\m31 \"deep\".fits"
// Parameter names are compared without regard to letter case; a value is a
// token up to the next ";" (trimmed) or a quoted string. In a quoted string
// a backslash escapes only a quote or a backslash: other backslashes stay,
// because browsers send Windows paths unescaped. Pure; never fails.
class HeaderParameters {
public:
    using Parameter = std::pair<std::string, std::string>;  // lower-cased name, unquoted value

    static HeaderParameters parse(std::string_view value);

    // The leading item (a media type, a disposition type), trimmed, case kept.
    const std::string& leading() const { return leading_; }
    const std::vector<Parameter>& parameters() const { return parameters_; }
    // The value of the last parameter of this name (HTTP takes the last of
    // repeated values).
    std::optional<std::string> parameter(std::string_view name) const;
    // A Content-Disposition's file name: the "filename" parameter, else the
    // decoded "filename*" (charset''percent-text).
    std::optional<std::string> fileName() const;

private:
    std::string leading_;
    std::vector<Parameter> parameters_;
};

}  // namespace http
