#include "http/StringHelpers.h"

namespace http {

namespace {

bool isTrimmed(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Byte length of the UTF-8 code point starting with `lead` (1 for stray bytes).
size_t codePointLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

// Returns the code point at `pos` (at most to the end of the text).
std::string_view codePointAt(std::string_view text, size_t pos) {
    return text.substr(pos, codePointLength(static_cast<unsigned char>(text[pos])));
}

void flush(std::string& pending, std::string& out) {
    if (isValidUtf8(pending)) out += pending;
    pending.clear();
}

}  // namespace

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) pieces.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::string trim(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isTrimmed(text[begin])) ++begin;
    while (end > begin && isTrimmed(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

std::string toLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string replace(std::string_view text, char from, char to) {
    std::string out(text);
    for (char& c : out)
        if (c == from) c = to;
    return out;
}

std::string removePercentEncoding(std::string_view text) {
    std::string out, pending;
    size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] != '%') {
            flush(pending, out);
            const std::string_view codePoint = codePointAt(text, pos);
            out += codePoint;
            pos += codePoint.size();
            continue;
        }
        ++pos;
        std::string_view first, second;
        if (pos < text.size()) { first = codePointAt(text, pos); pos += first.size(); }
        if (pos < text.size()) { second = codePointAt(text, pos); pos += second.size(); }
        if (first.size() == 1 && second.size() == 1 && hexValue(first[0]) >= 0 && hexValue(second[0]) >= 0) {
            pending += static_cast<char>(hexValue(first[0]) * 16 + hexValue(second[0]));
        } else {
            flush(pending, out);
            out += first;
            out += second;
        }
    }
    flush(pending, out);
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const size_t length = codePointLength(lead);
        if (length == 1) {
            if (lead >= 0x80) return false;
            ++i;
            continue;
        }
        if (i + length > bytes.size()) return false;
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        // Reject overlong forms, surrogates and code points above U+10FFFF.
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
            (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

}  // namespace http
