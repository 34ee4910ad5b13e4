// SPDX-License-Identifier: GPL-3.0-or-later
#include "proxy/AddonCheck.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <fstream>

#include "common/Folders.h"

namespace parlan {
namespace {

// The digits at the front of `text`, consumed; nothing without any.
std::optional<std::int64_t> readNumber(std::string_view& text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

}  // namespace

std::optional<std::string_view> AddonCheck::problem(const std::string& gameFolder,
                                                    const std::optional<std::string>& clientVersion) {
    // Looked up as the game under Wine and the add-on's install find it, whatever the letter case of
    // each folder; again only when the one found is gone.
    struct stat info {};
    if (gameFolder != lookedIn_ || found_.empty() || ::stat(found_.c_str(), &info) != 0) {
        lookedIn_ = gameFolder;
        found_ = tavrin::findIgnoringCase(gameFolder, tocPath).value_or("");
        if (found_.empty() || ::stat(found_.c_str(), &info) != 0) {
            return missingText;
        }
    }
    const std::string& path = found_;
    if (path != path_ || info.st_size != size_ || info.st_mtim.tv_sec != modified_.tv_sec ||
        info.st_mtim.tv_nsec != modified_.tv_nsec) {
        std::ifstream file(path, std::ios::binary);
        std::string toc(static_cast<std::size_t>(std::clamp<off_t>(info.st_size, 0, 1 << 16)), '\0');
        file.read(toc.data(), static_cast<std::streamsize>(toc.size()));
        toc.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
        numbers_ = interfaceNumbers(toc);
        path_ = path;
        size_ = info.st_size;
        modified_ = info.st_mtim;
    }
    const auto client = clientVersion ? interfaceNumber(*clientVersion) : std::nullopt;
    if (client && (numbers_.empty() || *std::ranges::max_element(numbers_) < *client)) {
        return outdatedText;
    }
    return std::nullopt;
}

std::optional<std::int64_t> AddonCheck::interfaceNumber(std::string_view version) {
    const auto major = readNumber(version);
    if (!major || !version.starts_with('.')) {
        return std::nullopt;
    }
    version.remove_prefix(1);
    const auto minor = readNumber(version);
    if (!minor || !version.starts_with('.')) {
        return std::nullopt;
    }
    version.remove_prefix(1);
    const auto patch = readNumber(version);
    if (!patch || !version.empty()) {
        return std::nullopt;
    }
    return *major * 10000 + *minor * 100 + *patch;
}

std::vector<std::int64_t> AddonCheck::interfaceNumbers(std::string_view toc) {
    constexpr std::string_view key = "## Interface:";
    std::vector<std::int64_t> numbers;
    const auto at = toc.find(key);
    if (at == std::string_view::npos) {
        return numbers;
    }
    std::string_view line = toc.substr(at + key.size());
    line = line.substr(0, line.find('\n'));
    while (!line.empty()) {
        if (const auto number = readNumber(line)) {
            numbers.push_back(*number);
        } else {
            line.remove_prefix(1);  // blanks, commas, a line end
        }
    }
    return numbers;
}

}  // namespace parlan
