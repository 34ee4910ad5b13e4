// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "log/LineSource.h"

namespace fakegame {

struct BurstSettings {
    std::uint64_t seed = 1;
    std::size_t averageBytes = 512;
    // How long a cut line's tail may wait for the next burst before it is written anyway.
    std::chrono::milliseconds holdBack{500};
};

struct SessionSettings {
    std::string logsFolder;
    double speed = 1.0;                   // 2 plays the lines twice as fast, their stamps twice as close
    std::optional<BurstSettings> bursts;  // none: every line is written whole at once
    std::size_t newFileAfterLines = 0;    // every so many lines the log goes on in a new file; 0: never
    std::size_t truncateAfterLines = 0;   // every so many lines the file is emptied; 0: never
    std::chrono::milliseconds truncatePause{0};  // writing stops this long before each emptying
};

// Writes a session's lines into the game's log folder when they are due, each stamped with that time in its
// shape, as the game does: the first file is named after the session's start. Runs on the calling thread,
// the writer's, until the lines are out or a stop is requested; the clock's sleeping must end on a stop.
class LogSession {
public:
    LogSession(SessionSettings settings, tavrin::Clock& clock);

    // The files written, in order; empty when the first could not be created.
    std::vector<std::string> run(LineSource& source, std::stop_token stop = {});

private:
    SessionSettings settings_;
    tavrin::Clock& clock_;
};

}  // namespace fakegame
