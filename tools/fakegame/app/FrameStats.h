// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace fakegame {

// What a player sees of a game's smoothness: the frames shown since the last report, their mean rate and
// the 1 % low (the rate of the slowest hundredth of the frames, their mean time per frame). Main thread.
class FrameStats {
public:
    using Clock = std::chrono::steady_clock;

    explicit FrameStats(Clock::time_point start) : since_(start), last_(start) {}
    // A frame was shown at `time`.
    void shown(Clock::time_point time);
    // "N frames in S s: F fps, 1 % low L fps" for the frames since the last report (or the start), then
    // begins anew at `now`.
    std::string report(Clock::time_point now);

private:
    Clock::time_point since_;
    Clock::time_point last_;
    std::vector<Clock::duration> frames_;
};

}  // namespace fakegame
