// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "matches/MatchRow.h"

namespace vidora {

// What the player's keys and buttons do, apart from any toolkit: the widgets turn a key into its name
// and carry out the command.
struct PlayerCommand {
    enum class Action {
        togglePause,
        seekBy,     // by `seconds`
        stepFrame,  // a frame forward, or back when `seconds` is negative
        nextDeath,
        previousDeath,
        toStart,
        toEnd,
        fullScreen,
        leaveFullScreen,
        slower,
        faster,
        normalSpeed,
    };
    Action action;
    double seconds = 0;
    bool operator==(const PlayerCommand&) const = default;
};

// A key as its portable name ("Space", "J", "Left", ",", "<", "Home"), as video tools use them: Space
// and K pause, J and L ten seconds, the arrows five, comma and period a frame, N and P the next and
// previous death, Home and End, F full screen (Escape leaves it), "<" and ">" (or "[" and "]") the
// speed, Backspace the normal speed.
std::optional<PlayerCommand> commandForKey(std::string_view key);

// The speeds offered, slowest first.
inline constexpr double playerSpeeds[] = {0.25, 0.5, 0.75, 1.0, 1.25, 1.5, 2.0};
// The next speed up (`step` 1) or down (-1) from `speed`, within the offered ones.
double nextSpeed(double speed, int step);

bool isDeath(const TimelineMark& mark);
// The first death after `now`, past the moment a seek to the current one lands on; the last death
// more than a second before `now`, so that pressing again goes on back.
std::optional<double> nextDeath(const std::vector<TimelineMark>& marks, double now);
std::optional<double> previousDeath(const std::vector<TimelineMark>& marks, double now);

// The player's sound: both tracks of a movie heard together, each of which can be muted. With both
// heard they are mixed (the player's filter graph), else the one heard is played alone.
struct SoundChoice {
    std::string filterGraph;  // for the player's "lavfi-complex"; empty for none
    std::string track;        // the "aid" to play without a graph: "1", "2" or "no"
};
SoundChoice soundChoice(int tracks, bool firstHeard, bool secondHeard);

}  // namespace vidora
