// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fakegame {

struct Options {
    std::string logsFolder;
    std::optional<std::string> replayPath;  // none: the built-in match
    double speed = 1.0;
    std::chrono::milliseconds matchLength{std::chrono::seconds(60)};
    int matches = 1;
    std::chrono::milliseconds lobbyLength{std::chrono::seconds(1)};
    bool bursts = false;
    std::size_t burstBytes = 512;
    std::uint64_t seed = 1;
    std::size_t newFileAfterLines = 0;
    std::size_t truncateAfterLines = 0;
    std::size_t truncatePauseMilliseconds = 0;
    bool tone = false;
    bool beeps = false;                 // the tone in beeps on the clock
    std::optional<std::string> helper;  // a shell command run as a child on each SIGUSR1
    bool window = true;
    bool fullscreen = false;
    // Rendering that measures itself: frames as fast as it can (0) or at this rate, each costing
    // frameCost of processor time before it is drawn, over a picture that moves everywhere.
    std::optional<int> renderRate;
    std::chrono::microseconds frameCost{0};
    bool exitWhenDone = false;
    bool help = false;
};

struct ParsedOptions {
    std::optional<Options> options;
    std::string error;  // why there are none
};

ParsedOptions parseOptions(int argc, const char* const* argv);
std::string_view usageText();

}  // namespace fakegame
