// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin {

// Bytes as text: cut at the first NUL, ill-formed UTF-8 replaced by U+FFFD.
std::string decodeText(std::string_view bytes);

// Without white space and line breaks (Unicode White_Space) at either end. The text must be valid UTF-8.
std::string_view trim(std::string_view text);

// Length in characters (extended grapheme clusters).
std::int64_t characterCount(std::string_view text);

// The characters from `from` up to, not including, `to`, counted in grapheme clusters. Empty when
// from >= length, to < 0 or to < from; a negative from counts as 0, a to past the end as the length.
std::string substring(std::string_view text, std::int64_t from, std::int64_t to);

// A decimal integer in the strict form: optional sign, one or more ASCII digits, within 64 bits.
std::optional<std::int64_t> parseInteger(std::string_view text);

// Whether two texts are equal without regard to ASCII letter case, as Windows file names compare.
bool equalIgnoringCase(std::string_view left, std::string_view right);

}  // namespace tavrin
