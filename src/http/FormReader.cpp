#include "http/FormReader.h"

#include <cstring>
#include <optional>

#include "http/StringHelpers.h"

namespace http {

namespace {

using MultiPart = HttpRequest::MultiPart;

// The trimmed ";"-separated pieces of the content type when its first piece
// is exactly `type`, else nothing.
std::optional<std::vector<std::string>> contentTypeParts(const FormReader::Headers& headers, std::string_view type) {
    const auto found = headers.find("content-type");
    if (found == headers.end()) return std::nullopt;
    std::vector<std::string> pieces = split(found->second, ';');
    for (auto& piece : pieces) piece = trim(piece);
    if (pieces.empty() || pieces.front() != type) return std::nullopt;
    return pieces;
}

std::string decodeFormText(std::string_view text) { return removePercentEncoding(replace(text, '+', ' ')); }

// Walks a multipart body. Part content ends at a delimiter that starts a line;
// the line break in front of it belongs to no part.
class MultipartCursor {
public:
    MultipartCursor(std::string_view body, std::string delimiter)
        : body_(body), marker_("\n" + delimiter), delimiter_(std::move(delimiter)) {}

    std::optional<MultiPart> next(bool isFirst) {
        if (isFirst) {
            if (readLine() != delimiter_) return std::nullopt;
        } else if (readLine() == "--") {
            return std::nullopt;  // close delimiter
        }
        MultiPart part;
        readHeaders(part.headers);
        auto content = readContent();
        if (!content) return std::nullopt;
        part.body = std::move(*content);
        return part;
    }

private:
    // A line up to the next line feed; bytes below 14 are dropped and the
    // others taken as ISO 8859-1.
    std::string readLine() {
        std::string line;
        while (pos_ < body_.size()) {
            const auto byte = static_cast<unsigned char>(body_[pos_++]);
            if (byte == '\n') break;
            if (byte < 14) continue;
            if (byte < 0x80) {
                line += static_cast<char>(byte);
            } else {
                line += static_cast<char>(0xC0 | (byte >> 6));
                line += static_cast<char>(0x80 | (byte & 0x3F));
            }
        }
        return line;
    }

    void readHeaders(std::map<std::string, std::string>& headers) {
        while (pos_ < body_.size()) {
            const std::string line = readLine();
            if (line.empty()) return;
            // Name up to the first colon; the value keeps any further colons
            // (a file name such as C:\x.fits or 12:00.fits).
            const std::size_t colon = line.find(':');
            if (colon == 0 || colon == std::string::npos) continue;
            headers[toLower(line.substr(0, colon))] = trim(std::string_view(line).substr(colon + 1));
        }
    }

    std::optional<std::string> readContent() {
        // Start at the line feed that ended the header block, so that an empty
        // part is found too.
        const std::size_t from = pos_ > 0 ? pos_ - 1 : 0;
        const void* hit = memmem(body_.data() + from, body_.size() - from, marker_.data(), marker_.size());
        if (!hit) return std::nullopt;
        const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - body_.data());
        std::string_view content = at > pos_ ? body_.substr(pos_, at - pos_) : std::string_view();
        if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
        pos_ = at + marker_.size();
        return std::string(content);
    }

    std::string_view body_;
    std::string marker_;
    std::string delimiter_;
    std::size_t pos_ = 0;
};

std::optional<std::string> boundaryOf(const std::vector<std::string>& contentType) {
    std::optional<std::string> boundary;
    for (const auto& piece : contentType) {
        const auto nameValue = split(piece, '=');
        if (nameValue.size() == 2 && nameValue[0] == "boundary") boundary = nameValue[1];
    }
    return boundary;
}

}  // namespace

HttpRequest::Pairs FormReader::urlencoded(const Headers& headers, std::string_view body) {
    HttpRequest::Pairs pairs;
    if (!contentTypeParts(headers, "application/x-www-form-urlencoded")) return pairs;
    const std::string_view text = isValidUtf8(body) ? body : std::string_view();
    for (const auto& piece : split(text, '&')) {
        const auto nameValue = split(piece, '=');
        if (nameValue.size() == 2)
            pairs.emplace_back(decodeFormText(nameValue[0]), decodeFormText(nameValue[1]));
        else
            pairs.emplace_back();
    }
    return pairs;
}

std::vector<HttpRequest::MultiPart> FormReader::multipart(const Headers& headers, std::string_view body) {
    std::vector<MultiPart> parts;
    const auto contentType = contentTypeParts(headers, "multipart/form-data");
    if (!contentType) return parts;
    const auto boundary = boundaryOf(*contentType);
    if (!boundary) return parts;
    MultipartCursor cursor(body, "--" + *boundary);
    while (auto part = cursor.next(parts.empty())) parts.push_back(std::move(*part));
    return parts;
}

}  // namespace http
