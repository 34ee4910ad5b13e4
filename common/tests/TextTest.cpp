#include <gtest/gtest.h>

#include <string>

#include "common/Text.h"

namespace tavrin {
namespace {

const std::string replacement = "\xEF\xBF\xBD";
const std::string accented = "e\u0301";  // e and a combining acute accent
const std::string flag = "\U0001F1E9\U0001F1EA";
const std::string family = "\U0001F469\u200D\U0001F469\u200D\U0001F467";
// Six characters, four of them several code points long.
const std::string six = "a" + accented + flag + "b" + family + "c";

TEST(TextTest, DecodeTextCutsAtNulAndReplacesEachMaximalIllFormedSubpart) {
    const std::string truncated = "\xE2\x82";
    EXPECT_EQ(decodeText(std::string_view("ab\0cd\xFF", 6)), "ab");
    EXPECT_EQ(decodeText(std::string_view("\0ab", 3)), "");
    // Valid text stays, noncharacters and the last code point included.
    EXPECT_EQ(decodeText(six + "\xEF\xBF\xBF\xF4\x8F\xBF\xBF"), six + "\xEF\xBF\xBF\xF4\x8F\xBF\xBF");
    EXPECT_EQ(decodeText("caf\xE9!"), "caf" + replacement + "!");
    EXPECT_EQ(decodeText("\x80\x80"), replacement + replacement);
    EXPECT_EQ(decodeText(truncated + "A"), replacement + "A");     // a truncated sequence is one subpart
    EXPECT_EQ(decodeText("\xC0\xAF"), replacement + replacement);  // overlong
    EXPECT_EQ(decodeText("\xED\xA0\x80"), replacement + replacement + replacement);  // surrogate
    EXPECT_EQ(decodeText("\xF4\x90\x80\x80"), replacement + replacement + replacement + replacement);
    EXPECT_EQ(decodeText("ok \xF0\x9F\x98"), "ok " + replacement);
}

TEST(TextTest, TrimRemovesUnicodeWhiteSpaceAtBothEnds) {
    EXPECT_EQ(trim(" \t\r\n\u00A0\u3000Ana Smith\u2028\u0085 "), "Ana Smith");
    EXPECT_EQ(trim(""), "");
    EXPECT_EQ(trim(" \r\n\u2003"), "");
    // A zero-width space is no white space; a last four-byte character is read whole.
    EXPECT_EQ(trim("\u200Bx\u200B"), "\u200Bx\u200B");
    EXPECT_EQ(trim(" x \U0001F600\u2003"), "x \U0001F600");
}

TEST(TextTest, CharacterCountCountsGraphemeClusters) {
    EXPECT_EQ(characterCount(""), 0);
    EXPECT_EQ(characterCount("a\r\nb"), 3);  // CR LF is one character
    EXPECT_EQ(characterCount(six), 6);
    EXPECT_EQ(characterCount(flag + flag), 2);
    EXPECT_EQ(characterCount("\U0001F44D\U0001F3FD"), 1);
    EXPECT_EQ(characterCount("\u1100\u1161\u11A8"), 1);
}

TEST(TextTest, SubstringCutsAtCharactersAndClampsItsRange) {
    EXPECT_EQ(substring(six, 2, 4), flag + "b");
    EXPECT_EQ(substring(six, 6, 6), "");
    EXPECT_EQ(substring(six, 3, 2), "");
    EXPECT_EQ(substring(six, 0, 0), "");
    EXPECT_EQ(substring(six, -1, 2), "a" + accented);
    EXPECT_EQ(substring(six, 4, 9), family + "c");
    EXPECT_EQ(substring(six, 0, -1), "");
    EXPECT_EQ(substring("abcdef", 2, 4), "cd");
    EXPECT_EQ(substring("line\r\n", 0, 5), "line\r\n");
    // The callers' own cuts: the last three characters, and a name without ".cmd".
    EXPECT_EQ(substring("ab", -1, 2), "ab");
    EXPECT_EQ(substring("R\u00E9sum" + accented, 3, 6), "um" + accented);
    EXPECT_EQ(substring("2024-05-01 20.15.30.cmd", 0, 19), "2024-05-01 20.15.30");
}

TEST(TextTest, ParseIntegerAcceptsOnlyTheStrictForm) {
    EXPECT_EQ(parseInteger("0"), 0);
    EXPECT_EQ(parseInteger("007"), 7);
    EXPECT_EQ(parseInteger("+42"), 42);
    EXPECT_EQ(parseInteger("-42"), -42);
    EXPECT_EQ(parseInteger("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseInteger("-9223372036854775808"), INT64_MIN);
    for (const char* text : {"", "+", "-", "+-1", "-+1", " 1", "1 ", "1.5", "0x10", "1e3", "12a",
                             "9223372036854775808", "+9223372036854775808", "-9223372036854775809"}) {
        EXPECT_EQ(parseInteger(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace tavrin
