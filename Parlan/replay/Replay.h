// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/Clock.h"

namespace parlan {

// A clock set to the time of the line being processed; its pauses cost no time.
class LineClock final : public tavrin::Clock {
public:
    tavrin::Date now() const override { return now_; }
    void sleepFor(std::chrono::milliseconds /*span*/) override {}
    void set(tavrin::Date date) { now_ = date; }

private:
    tavrin::Date now_{};
};

// A match as its files tell it: the stamp they are named after, the zone, and the end ("" while open).
struct ReplayedMatch {
    std::string stamp;
    std::string zone;
    std::string end;
};

// Feeds a finished combat log through the engine as the proxy would have while following it live,
// with a clock that reads the time of the line being processed and a pause that costs no time.
// `moviesPath` stands for the user's Movies folder. Gives the matches that started, in order, or
// nothing when the log cannot be read.
std::optional<std::vector<ReplayedMatch>> replayLog(const std::string& logPath,
                                                    const std::string& moviesPath);

}  // namespace parlan
