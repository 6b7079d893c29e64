#include <gtest/gtest.h>

#include "http/StringHelpers.h"

using namespace http;
using Pieces = std::vector<std::string>;

TEST(Split, DropsEmptyPieces) {
    EXPECT_EQ(split("a/b//c/", '/'), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(split("//a", '/'), (Pieces{"a"}));
    EXPECT_TRUE(split("/", '/').empty());
    EXPECT_TRUE(split("///", '/').empty());
    EXPECT_TRUE(split("", '/').empty());
    EXPECT_EQ(split("abc", '/'), (Pieces{"abc"}));
}

TEST(Trim, RemovesAsciiWhiteSpaceOnly) {
    EXPECT_EQ(trim("\t  x y\r\n"), "x y");
    EXPECT_EQ(trim("\v\f x \f\v"), "x");
    EXPECT_EQ(trim(" \t\r\n "), "");
    EXPECT_EQ(trim("\xC2\xA0x"), "\xC2\xA0x");  // no-break space is kept
    EXPECT_EQ(trim("x\x1F"), "x\x1F");
}

TEST(Replace, ReplacesEveryOccurrence) {
    EXPECT_EQ(replace("a+b+c", '+', ' '), "a b c");
    EXPECT_EQ(replace("", '+', ' '), "");
}

TEST(RemovePercentEncoding, DecodesEscapes) {
    EXPECT_EQ(removePercentEncoding("a%20b"), "a b");
    EXPECT_EQ(removePercentEncoding("%C3%A9"), "\xC3\xA9");
    EXPECT_EQ(removePercentEncoding("%c3%a9"), "\xC3\xA9");
    EXPECT_EQ(removePercentEncoding("a+b"), "a+b");
    EXPECT_EQ(removePercentEncoding("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");
}

TEST(RemovePercentEncoding, DropsInvalidEscapedUtf8) {
    EXPECT_EQ(removePercentEncoding("%E9"), "");
    EXPECT_EQ(removePercentEncoding("a%E9b"), "ab");
    EXPECT_EQ(removePercentEncoding("%C3%A9%FF"), "");  // one pending run, invalid as a whole
    EXPECT_EQ(removePercentEncoding("%C3x%A9"), "x");
}

TEST(RemovePercentEncoding, KeepsWhatFollowsABadPercent) {
    EXPECT_EQ(removePercentEncoding("100%"), "100");
    EXPECT_EQ(removePercentEncoding("%zz1"), "zz1");
    EXPECT_EQ(removePercentEncoding("%4"), "4");
    EXPECT_EQ(removePercentEncoding("%%41"), "%41");
    EXPECT_EQ(removePercentEncoding("%\xC3\xA9x"), "\xC3\xA9x");  // a whole code point is taken
}

TEST(IsValidUtf8, AcceptsWellFormedText) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(isValidUtf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
    EXPECT_TRUE(isValidUtf8("\xF4\x8F\xBF\xBF"));  // U+10FFFF
}

TEST(IsValidUtf8, RejectsMalformedText) {
    EXPECT_FALSE(isValidUtf8("\x80"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xF5\x80\x80\x80"));
    EXPECT_FALSE(isValidUtf8("\xC3"));              // truncated
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));
    EXPECT_FALSE(isValidUtf8("\xC3\x28"));          // bad continuation
}
