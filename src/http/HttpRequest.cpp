#include "http/HttpRequest.h"

#include "http/BodyFile.h"
#include "http/FormReader.h"
#include "http/StringHelpers.h"

namespace http {

namespace {

// The ";"-separated pieces of a header value; a ";" inside double quotes
// belongs to its piece.
std::vector<std::string_view> parameterPieces(std::string_view value) {
    std::vector<std::string_view> pieces;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && quoted) {
            ++i;
        } else if (value[i] == '"') {
            quoted = !quoted;
        } else if (value[i] == ';' && !quoted) {
            pieces.push_back(value.substr(start, i - start));
            start = i + 1;
        }
    }
    pieces.push_back(value.substr(start));
    return pieces;
}

// A parameter value without its double quotes and the backslashes that
// escape a quote or a backslash. Other backslashes stay: clients send
// Windows paths such as "C:\Users\m31.fits" unescaped.
std::string unquote(std::string_view value) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') return std::string(value);
    std::string text;
    for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size() && (value[i + 1] == '"' || value[i + 1] == '\\')) ++i;
        text += value[i];
    }
    return text;
}

}  // namespace

HttpRequest::Pairs HttpRequest::parseUrlencodedForm() const { return FormReader::urlencoded(headers, body); }

std::vector<HttpRequest::MultiPart> HttpRequest::parseMultiPartFormData() const {
    return FormReader::multipart(headers, bodyFile ? bodyFile->view() : std::string_view(body));
}

std::optional<std::string> HttpRequest::MultiPart::fileName() const {
    if (auto plain = dispositionParameter("filename")) return plain;
    const auto extended = dispositionParameter("filename*");
    if (!extended) return std::nullopt;
    const std::size_t quotes = extended->find("''");
    return removePercentEncoding(quotes == std::string::npos ? *extended : extended->substr(quotes + 2));
}

std::optional<std::string> HttpRequest::MultiPart::dispositionParameter(std::string_view parameter) const {
    const auto found = headers.find("content-disposition");
    if (found == headers.end()) return std::nullopt;
    const auto pieces = parameterPieces(found->second);
    // The first piece is the disposition type ("form-data").
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::size_t equals = pieces[i].find('=');
        if (equals == std::string_view::npos) continue;
        if (toLower(trim(pieces[i].substr(0, equals))) == parameter) return unquote(trim(pieces[i].substr(equals + 1)));
    }
    return std::nullopt;
}

}  // namespace http
