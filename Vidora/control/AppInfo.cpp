// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/AppInfo.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <vector>

namespace vidora {

namespace {

constexpr std::string_view edition = "Basic";

// One piece of a version: an optional sign, then decimal digits only; nothing on overflow.
std::optional<std::int64_t> versionPiece(std::string_view piece) {
    const bool hasSign = !piece.empty() && (piece.front() == '+' || piece.front() == '-');
    const std::string_view digits = piece.substr(hasSign ? 1 : 0);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    // from_chars reads a minus sign but not a plus sign.
    const std::string_view number = piece.front() == '+' ? digits : piece;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

const AppInfo& AppInfo::current() {
    static const AppInfo info = [] {
        std::string plans(edition);
        std::transform(plans.begin(), plans.end(), plans.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return AppInfo{"Vidora", VIDORA_VERSION, plans};
    }();
    return info;
}

std::string AppInfo::versionUrl(std::string_view site) const {
    return std::string(site) + "/recorder/version/?type=" + pricePlans;
}

std::string AppInfo::versionJson(std::string_view site) const {
    return std::string(site) + "/recorder/version/" + pricePlans + "-linux.json";
}

std::int64_t versionToNumber(std::string_view version) {
    std::vector<std::string_view> texts;
    for (std::size_t start = 0;;) {
        const std::size_t dot = version.find('.', start);
        texts.push_back(version.substr(start, dot - start));
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    if (texts.size() != 3) {
        return 0;
    }
    const auto major = versionPiece(texts[0]);
    const auto minor = versionPiece(texts[1]);
    const auto patch = versionPiece(texts[2]);
    std::int64_t majorPart = 0;
    std::int64_t minorPart = 0;
    std::int64_t result = 0;
    if (!major || !minor || !patch || __builtin_mul_overflow(*major, 10000, &majorPart) ||
        __builtin_mul_overflow(*minor, 100, &minorPart) ||
        __builtin_add_overflow(majorPart, minorPart, &result) ||
        __builtin_add_overflow(result, *patch, &result)) {
        return 0;
    }
    return result;
}

}  // namespace vidora
