// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Text.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <vector>

namespace tavrin {
namespace {

bool isAscii(std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if (word & 0x8080808080808080ULL) {
            return false;
        }
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            return false;
        }
    }
    return true;
}

bool isValidUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::int64_t length = static_cast<std::int64_t>(text.size());
    for (std::int64_t i = 0; i < length;) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            return false;
        }
    }
    return true;
}

// Byte offsets of the grapheme cluster boundaries, 0 and the text's size included.
std::vector<std::int64_t> clusterBoundaries(std::string_view text) {
    std::vector<std::int64_t> boundaries;
    // Plain ASCII without a carriage return has one cluster per byte ("\r\n" is a single cluster).
    if (isAscii(text) && text.find('\r') == std::string_view::npos) {
        boundaries.resize(text.size() + 1);
        for (std::size_t i = 0; i <= text.size(); ++i) {
            boundaries[i] = static_cast<std::int64_t>(i);
        }
        return boundaries;
    }
    UErrorCode status = U_ZERO_ERROR;
    struct UTextCloser {
        void operator()(UText* t) const { utext_close(t); }
    };
    std::unique_ptr<UText, UTextCloser> utext(
        utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status));
    // One character iterator per thread: opening one loads the break rules, which is costly.
    struct BreakCloser {
        void operator()(UBreakIterator* b) const { ubrk_close(b); }
    };
    thread_local std::unique_ptr<UBreakIterator, BreakCloser> iterator;
    if (U_SUCCESS(status) && !iterator) {
        iterator.reset(ubrk_open(UBRK_CHARACTER, nullptr, nullptr, 0, &status));
    }
    if (U_SUCCESS(status) && iterator) {
        ubrk_setUText(iterator.get(), utext.get(), &status);
    }
    if (U_FAILURE(status) || !iterator) {
        // Without ICU's rules, fall back to code points.
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        const std::int64_t length = static_cast<std::int64_t>(text.size());
        for (std::int64_t i = 0; i < length;) {
            boundaries.push_back(i);
            U8_FWD_1(bytes, i, length);
        }
        boundaries.push_back(length);
        return boundaries;
    }
    for (std::int32_t b = ubrk_first(iterator.get()); b != UBRK_DONE; b = ubrk_next(iterator.get())) {
        boundaries.push_back(b);
    }
    static const UChar nothing[1] = {0};
    ubrk_setText(iterator.get(), nothing, 0, &status);  // drop the reference to `text`
    return boundaries;
}

}  // namespace

std::string decodeText(std::string_view bytes) {
    if (const void* nul = std::memchr(bytes.data(), '\0', bytes.size())) {
        bytes = bytes.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - bytes.data()));
    }
    if (isAscii(bytes) || isValidUtf8(bytes)) {
        return std::string(bytes);
    }
    std::string text;
    text.reserve(bytes.size() + 8);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::int64_t length = static_cast<std::int64_t>(bytes.size());
    for (std::int64_t i = 0; i < length;) {
        const std::int64_t start = i;
        UChar32 c;
        U8_NEXT(data, i, length, c);
        if (c < 0) {
            text += "\xEF\xBF\xBD";  // U+FFFD for each maximal ill-formed subpart
        } else {
            text.append(bytes.data() + start, static_cast<std::size_t>(i - start));
        }
    }
    return text;
}

std::string_view trim(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    std::int64_t begin = 0;
    std::int64_t end = static_cast<std::int64_t>(text.size());
    while (begin < end) {
        std::int64_t next = begin;
        UChar32 c;
        U8_NEXT(bytes, next, end, c);
        if (c < 0 || !u_isUWhiteSpace(c)) {
            break;
        }
        begin = next;
    }
    while (end > begin) {
        // The last code point starts after at most three continuation bytes.
        std::int64_t previous = end - 1;
        while (previous > begin && end - previous < 4 && (bytes[previous] & 0xC0) == 0x80) {
            --previous;
        }
        std::int64_t next = previous;
        UChar32 c;
        U8_NEXT(bytes, next, end, c);
        if (c < 0 || next != end || !u_isUWhiteSpace(c)) {
            break;
        }
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

std::int64_t characterCount(std::string_view text) {
    return static_cast<std::int64_t>(clusterBoundaries(text).size()) - 1;
}

std::string substring(std::string_view text, std::int64_t from, std::int64_t to) {
    const auto boundaries = clusterBoundaries(text);
    const std::int64_t length = static_cast<std::int64_t>(boundaries.size()) - 1;
    if (from >= length || to < 0 || to < from) {
        return {};
    }
    from = std::max<std::int64_t>(from, 0);
    to = std::min(to, length);
    const auto begin = static_cast<std::size_t>(boundaries[static_cast<std::size_t>(from)]);
    const auto end = static_cast<std::size_t>(boundaries[static_cast<std::size_t>(to)]);
    return std::string(text.substr(begin, end - begin));
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.front() < '0' || digits.front() > '9') {
        return std::nullopt;
    }
    // from_chars takes "-" but not "+"; the digits after the sign decide the value.
    const char* first = text.front() == '+' ? text.data() + 1 : text.data();
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool equalIgnoringCase(std::string_view left, std::string_view right) {
    const auto lower = [](char letter) {
        return letter >= 'A' && letter <= 'Z' ? static_cast<char>(letter - 'A' + 'a') : letter;
    };
    return std::ranges::equal(left, right, [&](char a, char b) { return lower(a) == lower(b); });
}

}  // namespace tavrin
