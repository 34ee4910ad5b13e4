// SPDX-License-Identifier: GPL-3.0-or-later
#include "player/PlayerControls.h"

#include <algorithm>
#include <map>

namespace vidora {

namespace {

using Action = PlayerCommand::Action;

// A seek lands within this of its target, and the next death must lie beyond it.
constexpr double landing = 0.25;

}  // namespace

std::optional<PlayerCommand> commandForKey(std::string_view key) {
    static const std::map<std::string_view, PlayerCommand, std::less<>> keys = {
        {"Space", {Action::togglePause}},
        {"K", {Action::togglePause}},
        {"J", {Action::seekBy, -10}},
        {"L", {Action::seekBy, 10}},
        {"Left", {Action::seekBy, -5}},
        {"Right", {Action::seekBy, 5}},
        {",", {Action::stepFrame, -1}},
        {".", {Action::stepFrame, 1}},
        {"N", {Action::nextDeath}},
        {"P", {Action::previousDeath}},
        {"Home", {Action::toStart}},
        {"End", {Action::toEnd}},
        {"F", {Action::fullScreen}},
        {"Esc", {Action::leaveFullScreen}},
        {"<", {Action::slower}},
        {">", {Action::faster}},
        {"[", {Action::slower}},
        {"]", {Action::faster}},
        {"Backspace", {Action::normalSpeed}},
    };
    const auto found = keys.find(key);
    return found != keys.end() ? std::optional(found->second) : std::nullopt;
}

double nextSpeed(double speed, int step) {
    const auto* begin = std::begin(playerSpeeds);
    const auto* end = std::end(playerSpeeds);
    if (step > 0) {
        const auto* faster = std::upper_bound(begin, end, speed + 1e-6);
        return faster != end ? *faster : end[-1];
    }
    const auto* slower = std::lower_bound(begin, end, speed - 1e-6);
    return slower != begin ? slower[-1] : *begin;
}

bool isDeath(const TimelineMark& mark) {
    return mark.kind == TimelineMark::Kind::friendlyDeath || mark.kind == TimelineMark::Kind::enemyDeath ||
           mark.kind == TimelineMark::Kind::death;
}

std::optional<double> nextDeath(const std::vector<TimelineMark>& marks, double now) {
    for (const auto& mark : marks) {
        if (isDeath(mark) && mark.time > now + landing) {
            return mark.time;
        }
    }
    return std::nullopt;
}

std::optional<double> previousDeath(const std::vector<TimelineMark>& marks, double now) {
    std::optional<double> found;
    for (const auto& mark : marks) {
        if (isDeath(mark) && mark.time < now - 1.0) {
            found = mark.time;
        }
    }
    return found;
}

SoundChoice soundChoice(int tracks, bool firstHeard, bool secondHeard) {
    if (tracks >= 2 && firstHeard && secondHeard) {
        // Mixed at their own levels: amix would otherwise halve each.
        return {.filterGraph = "[aid1] [aid2] amix=inputs=2:normalize=0 [ao]", .track = "no"};
    }
    if (tracks >= 2 && secondHeard) {
        return {.filterGraph = {}, .track = "2"};
    }
    return {.filterGraph = {}, .track = tracks >= 1 && firstHeard ? "1" : "no"};
}

}  // namespace vidora
