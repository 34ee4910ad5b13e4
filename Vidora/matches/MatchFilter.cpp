// SPDX-License-Identifier: GPL-3.0-or-later
#include "matches/MatchFilter.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace vidora {

namespace {

std::string lower(std::string text) {
    std::ranges::transform(text, text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool hasSpec(const MatchRow& match, const std::string& spec) {
    const auto same = [&spec](const TeamMember& member) { return member.spec == spec; };
    return match.playerSpec == spec || std::ranges::any_of(match.friends, same) ||
           std::ranges::any_of(match.enemies, same);
}

// Letter case is folded for ASCII only; other letters must match as written.
std::string searchable(const MatchRow& match) {
    std::string text = match.bracket + '\n' + match.arena + '\n' + match.playerName + '\n' +
                       match.playerSpec + '\n' + match.playerClass + '\n';
    for (const auto* team : {&match.friends, &match.enemies}) {
        for (const auto& member : *team) {
            text += member.spec + ' ' + member.className + '\n';
        }
    }
    for (const auto& name : match.names) {
        text += name + '\n';
    }
    return lower(std::move(text));
}

}  // namespace

bool isWon(const MatchRow& match) {
    return match.shuffle ? match.hasResult && match.roundsWon > match.roundsLost
                         : match.outcome == Outcome::win;
}

bool isLost(const MatchRow& match) {
    return match.shuffle ? match.hasResult && match.roundsWon < match.roundsLost
                         : match.outcome == Outcome::loss;
}

bool MatchFilter::accepts(const MatchRow& match) const {
    const std::string_view day = std::string_view(match.file.stamp).substr(0, 10);
    if ((!bracket.empty() && match.bracket != bracket) || (!arena.empty() && match.arena != arena) ||
        (!spec.empty() && !hasSpec(match, spec)) || (result == Result::won && !isWon(match)) ||
        (result == Result::lost && !isLost(match)) || (kept == Kept::kept && !match.file.kept) ||
        (kept == Kept::notKept && match.file.kept) || (!fromDay.empty() && day < fromDay) ||
        (!toDay.empty() && day > toDay)) {
        return false;
    }
    if (search.empty()) {
        return true;
    }
    const std::string text = searchable(match);
    std::istringstream words(lower(search));
    for (std::string word; words >> word;) {
        if (text.find(word) == std::string::npos) {
            return false;
        }
    }
    return true;
}

}  // namespace vidora
