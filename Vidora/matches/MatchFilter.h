// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "matches/MatchRow.h"

namespace vidora {

// What the player narrows the match list to; an empty field lets every row through.
struct MatchFilter {
    enum class Result { any, won, lost };
    enum class Kept { any, kept, notKept };

    std::string bracket;
    std::string arena;
    std::string spec;  // the player's own, or anyone's in the match
    Result result = Result::any;
    Kept kept = Kept::any;
    // Days as "yyyy-MM-dd", both included; stamps begin with the day.
    std::string fromDay;
    std::string toDay;
    // Words that must all be found, in any letter case, in the names, specs, classes, arena and bracket.
    std::string search;

    bool accepts(const MatchRow& match) const;
};

// A shuffle is won with more rounds won than lost.
bool isWon(const MatchRow& match);
bool isLost(const MatchRow& match);

}  // namespace vidora
