#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace http {

// Cuts `text` at every `separator`, leaving out empty pieces.
std::vector<std::string> split(std::string_view text, char separator);

// Removes tab, line feed, vertical tab, form feed, carriage return and space
// from both ends. Other (Unicode) spaces are kept.
std::string trim(std::string_view text);

// ASCII letters in lower case; other bytes unchanged.
std::string toLower(std::string_view text);

// Replaces every `from` character by `to`.
std::string replace(std::string_view text, char from, char to);

// Decodes %XX escapes. Runs of escaped bytes that are not valid UTF-8 are
// dropped; a "%" without two hex digits is dropped and what follows kept.
std::string removePercentEncoding(std::string_view text);

bool isValidUtf8(std::string_view bytes);

}  // namespace http
