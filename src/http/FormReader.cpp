#include "http/FormReader.h"

#include <cstring>
#include <optional>

#include "http/HeaderParameters.h"
#include "http/StringHelpers.h"

namespace http {

namespace {

using MultiPart = HttpRequest::MultiPart;

// The content type's parameters when its media type is `type` (letter case aside).
std::optional<HeaderParameters> contentType(const FormReader::Headers& headers, std::string_view type) {
    const auto found = headers.find("content-type");
    if (found == headers.end()) return std::nullopt;
    HeaderParameters media = HeaderParameters::parse(found->second);
    if (toLower(media.leading()) != type) return std::nullopt;
    return media;
}

std::string decodeFormText(std::string_view text) { return removePercentEncoding(replace(text, '+', ' ')); }

bool isBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r") == std::string_view::npos;
}

// Walks a multipart body. A delimiter is "--boundary" at the start of a line,
// followed by nothing but blanks (or "--" for the last one); the line break
// in front of it belongs to no part. Text before the first delimiter (a
// preamble) and after the last (an epilogue) is ignored.
class MultipartCursor {
public:
    MultipartCursor(std::string_view body, std::string delimiter, const FormReader::Scanned& scanned)
        : body_(body), marker_("\n" + delimiter), delimiter_(std::move(delimiter)), scanned_(scanned) {}

    // The next part; nothing at the end. `malformed` is set for a part whose
    // headers hold a NUL byte.
    std::optional<MultiPart> next(bool isFirst, bool& malformed) {
        if (isFirst ? !skipPreamble() : closed_) return std::nullopt;
        MultiPart part;
        if (!readHeaders(part.headers)) {
            malformed = true;
            return std::nullopt;
        }
        auto content = readContent();
        if (!content) return std::nullopt;
        part.body = *content;
        return part;
    }

private:
    // Finds the first delimiter; its line end tells whether the body's lines
    // end with CR LF or with LF alone.
    bool skipPreamble() {
        const bool found = (body_.starts_with(delimiter_) && isDelimiterEnd(delimiter_.size())) ||
                           findDelimiter(0).has_value();
        crlf_ = found && pos_ >= 2 && body_.substr(pos_ - 2, 2) == "\r\n";
        return found;
    }

    // Whether the text after a delimiter at `at` ends it: blanks to the end
    // of the line (moving past it), or "--" (the close delimiter).
    bool isDelimiterEnd(std::size_t at) {
        if (body_.substr(at, 2) == "--") {
            closed_ = true;
            pos_ = body_.size();
            return true;
        }
        const std::size_t lineEnd = std::min(body_.find('\n', at), body_.size());
        if (!isBlank(body_.substr(at, lineEnd - at))) return false;
        pos_ = std::min(lineEnd + 1, body_.size());
        return true;
    }

    // The position of the next delimiter's line feed at or after `from`,
    // searched a window at a time.
    std::optional<std::size_t> findDelimiter(std::size_t from) {
        constexpr std::size_t window = 8 << 20;
        while (from < body_.size()) {
            const std::size_t end = std::min(body_.size(), from + window + marker_.size());
            const void* hit = memmem(body_.data() + from, end - from, marker_.data(), marker_.size());
            if (!hit && end == body_.size()) return std::nullopt;
            if (!hit) {
                if (scanned_) scanned_(body_.substr(from, window));
                from += window + 1;
                continue;
            }
            const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - body_.data());
            if (isDelimiterEnd(at + marker_.size())) return at;
            from = at + 1;
        }
        return std::nullopt;
    }

    // A line up to the next line feed, without it and its carriage return.
    // Header text is UTF-8 when valid, otherwise taken as ISO 8859-1.
    std::string readLine() {
        const std::size_t end = std::min(body_.find('\n', pos_), body_.size());
        std::string_view line = body_.substr(pos_, end - pos_);
        pos_ = std::min(end + 1, body_.size());
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (isValidUtf8(line)) return std::string(line);
        std::string converted;
        for (const char c : line) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x80) {
                converted += c;
            } else {
                converted += static_cast<char>(0xC0 | (byte >> 6));
                converted += static_cast<char>(0x80 | (byte & 0x3F));
            }
        }
        return converted;
    }

    // False when a header line holds a NUL byte.
    bool readHeaders(std::map<std::string, std::string>& headers) {
        while (pos_ < body_.size()) {
            const std::string line = readLine();
            if (line.empty()) return true;
            if (line.find('\0') != std::string::npos) return false;
            // Name up to the first colon; the value keeps any further colons
            // (a file name such as C:\x.fits or 12:00.fits).
            const std::size_t colon = line.find(':');
            if (colon == 0 || colon == std::string::npos) continue;
            headers[toLower(line.substr(0, colon))] = trim(std::string_view(line).substr(colon + 1));
        }
        return true;
    }

    std::optional<std::string_view> readContent() {
        const std::size_t start = pos_;
        // Search from the line feed that ended the header block, so that an
        // empty part is found too.
        const auto at = findDelimiter(start > 0 ? start - 1 : 0);
        if (!at) return std::nullopt;
        std::string_view content = *at > start ? body_.substr(start, *at - start) : std::string_view();
        if (crlf_ && !content.empty() && content.back() == '\r') content.remove_suffix(1);
        return content;
    }

    std::string_view body_;
    std::string marker_;
    std::string delimiter_;
    std::size_t pos_ = 0;
    bool closed_ = false;
    bool crlf_ = false;
    const FormReader::Scanned& scanned_;
};

}  // namespace

HttpRequest::Pairs FormReader::urlencoded(const Headers& headers, std::string_view body) {
    HttpRequest::Pairs pairs;
    if (!contentType(headers, "application/x-www-form-urlencoded")) return pairs;
    const std::string_view text = isValidUtf8(body) ? body : std::string_view();
    for (const auto& piece : split(text, '&')) {
        // The name ends at the first "=": values (raw JSON, keys) may hold more.
        const std::size_t equals = piece.find('=');
        if (equals == 0 || equals == std::string::npos)
            pairs.emplace_back();
        else
            pairs.emplace_back(decodeFormText(piece.substr(0, equals)), decodeFormText(piece.substr(equals + 1)));
    }
    return pairs;
}

std::vector<HttpRequest::MultiPart> FormReader::multipart(const Headers& headers, std::string_view body,
                                                         const Scanned& scanned) {
    std::vector<MultiPart> parts;
    const auto media = contentType(headers, "multipart/form-data");
    if (!media) return parts;
    const auto boundary = media->parameter("boundary");
    if (!boundary || boundary->empty()) return parts;
    MultipartCursor cursor(body, "--" + *boundary, scanned);
    bool malformed = false;
    while (auto part = cursor.next(parts.empty(), malformed)) parts.push_back(std::move(*part));
    if (malformed) parts.clear();
    return parts;
}

}  // namespace http
