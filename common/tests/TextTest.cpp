// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "common/Text.h"

namespace tavrin {
namespace {

const std::string replacement = "\xEF\xBF\xBD";
const std::string accented = "e\u0301";  // e and a combining acute accent
const std::string flag = "\U0001F1E9\U0001F1EA";
const std::string family = "\U0001F469\u200D\U0001F469\u200D\U0001F467";
// Six characters, four of them several code points long.
const std::string six = "a" + accented + flag + "b" + family + "c";

TEST(TextTest, DecodeTextReplacesEachIllFormedSubpartAndTrimRemovesUnicodeWhiteSpace) {
    // Cutting at NUL and a lone bad byte are seen through FileInputStream's lines.
    EXPECT_EQ(decodeText(six + "\xF4\x8F\xBF\xBF"), six + "\xF4\x8F\xBF\xBF");
    // A truncated sequence is one subpart, an overlong one two.
    EXPECT_EQ(decodeText(std::string("\xE2\x82") + "A"), replacement + "A");
    EXPECT_EQ(decodeText("\xC0\xAF"), replacement + replacement);
    // Trim removes Unicode white space at both ends.
    EXPECT_EQ(trim(" \t\r\n\u00A0\u3000Ana Smith\u2028\u0085 "), "Ana Smith");
    EXPECT_EQ(trim(" \r\n\u2003"), "");
    // A zero-width space is no white space; a last four-byte character is read whole.
    EXPECT_EQ(trim("\u200Bx \U0001F600\u2003"), "\u200Bx \U0001F600");
}

TEST(TextTest, CountsAndCutsGraphemeClusters) {
    EXPECT_EQ(characterCount(six), 6);
    // Cut by characters, one of them CR LF.
    const std::tuple<std::string, std::int64_t, std::int64_t, std::string> cases[] = {
        {six, 2, 4, flag + "b"}, {six, -1, 2, "a" + accented},  {six, 4, 9, family + "c"}, {six, 3, 2, ""},
        {six, 0, -1, ""},        {"line\r\n", 0, 5, "line\r\n"}};
    for (const auto& [text, from, to, expected] : cases) {
        EXPECT_EQ(substring(text, from, to), expected) << from << ".." << to;
    }
}

TEST(TextTest, ParseIntegerAcceptsOnlyTheStrictForm) {
    EXPECT_EQ(parseInteger("+007"), 7);
    EXPECT_EQ(parseInteger("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseInteger("-9223372036854775808"), INT64_MIN);
    for (const char* text : {"", "+", "-", "+-1", " 1", "1 ", "1.5", "0x10", "12a", "9223372036854775808",
                             "+9223372036854775808", "-9223372036854775809"}) {
        EXPECT_EQ(parseInteger(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace tavrin
