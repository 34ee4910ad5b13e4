// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlan {

// Whether the game's folder holds the add-on that turns combat logging on, in a version the running
// client loads, found whatever the letter case of its folders. The polling thread's own; a pass costs one
// stat while the add-on stays as it was.
class AddonCheck {
public:
    static constexpr std::string_view tocPath = "Interface/AddOns/TavrinRecorder/TavrinRecorder.toc";
    static constexpr std::string_view missingText =
        "The TavrinRecorder add-on is missing from World of Warcraft: install it from Vidora's Download menu";
    static constexpr std::string_view outdatedText =
        "The TavrinRecorder add-on is older than World of Warcraft: install it again from Vidora's Download "
        "menu";

    // The status that says what blocks recording, nothing when the add-on is fine or the client's
    // version (BUILD_VERSION, "12.0.1") is not known yet. `gameFolder` ends with "/".
    std::optional<std::string_view> problem(const std::string& gameFolder,
                                            const std::optional<std::string>& clientVersion);

    // The Interface number of a client version: "12.0.1" gives 120001; nothing for other text.
    static std::optional<std::int64_t> interfaceNumber(std::string_view version);
    // The numbers of a .toc's "## Interface:" line ("110200, 120001").
    static std::vector<std::int64_t> interfaceNumbers(std::string_view toc);

private:
    // The game's folder of the last lookup, and the .toc found there.
    std::string lookedIn_;
    std::string found_;
    // The .toc read last, and what it said.
    std::string path_;
    timespec modified_{};
    off_t size_ = -1;
    std::vector<std::int64_t> numbers_;
};

}  // namespace parlan
