#include <gtest/gtest.h>

#include "http/StringHelpers.h"

using namespace http;

// Percent-decoding of query text: escapes decoded, invalid UTF-8 runs
// dropped, what follows a bad percent kept.
TEST(TextHelpers, PercentDecoding) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"a%20b", "a b"}, {"%C3%A9", "\xC3\xA9"}, {"%c3%a9", "\xC3\xA9"}, {"a+b", "a+b"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"}, {"%E9", ""}, {"a%E9b", "ab"}, {"%C3%A9%FF", ""},
        {"%C3x%A9", "x"}, {"100%", "100"}, {"%zz1", "zz1"}, {"%4", "4"}, {"%%41", "%41"},
        {"%\xC3\xA9x", "\xC3\xA9x"},
    };
    for (const auto& [text, decoded] : cases) EXPECT_EQ(removePercentEncoding(text), decoded) << text;
}

TEST(TextHelpers, Utf8Validity) {
    for (const char* valid : {"", "plain", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"})
        EXPECT_TRUE(isValidUtf8(valid)) << valid;
    // Stray continuation, overlong forms, a surrogate, beyond U+10FFFF, cut short, bad continuation.
    for (const char* invalid : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                "\xF5\x80\x80\x80", "\xC3", "\xE2\x82", "\xC3\x28"})
        EXPECT_FALSE(isValidUtf8(invalid)) << invalid;
}
