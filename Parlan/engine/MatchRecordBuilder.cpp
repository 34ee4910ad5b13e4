// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/MatchRecordBuilder.h"

#include <algorithm>
#include <cmath>

#include "common/Text.h"
#include "engine/WowGame.h"

namespace parlan {
namespace {

using Record = tavrin::MatchRecord;

// The next comma-separated field of `data`, which moves past it.
std::string_view nextField(std::string_view& data) {
    const auto comma = data.find(',');
    const std::string_view field = data.substr(0, comma);
    data.remove_prefix(comma == std::string_view::npos ? data.size() : comma + 1);
    return field;
}

// A quoted field without its quotes (a name may hold a comma); nothing for another field, such as nil.
std::optional<std::string_view> nextQuoted(std::string_view& data) {
    if (!data.starts_with('"')) {
        nextField(data);
        return std::nullopt;
    }
    const auto close = data.find('"', 1);
    if (close == std::string_view::npos) {
        data = {};
        return std::nullopt;
    }
    const std::string_view text = data.substr(1, close - 1);
    data.remove_prefix(close + 1);
    nextField(data);
    return text;
}

// Seconds on the subtitles' timeline, to the millisecond; before the start reads as the start.
double offset(Date start, Date date) {
    return std::round(std::max(0.0, tavrin::secondsBetween(start, date)) * 1000.0) / 1000.0;
}

std::optional<int> team(std::string_view text) {
    const auto value = tavrin::parseInteger(text);
    return value && (*value == 0 || *value == 1) ? std::optional<int>(static_cast<int>(*value))
                                                 : std::nullopt;
}

// "Affliction - Warlock" of the game's table, taken apart.
Record::Specialization specialization(std::string_view id) {
    Record::Specialization result{tavrin::parseInteger(id), std::nullopt, std::nullopt};
    const auto name = WowGame::shared().getSpecialization(id);
    const auto dash = name ? name->find(" - ") : std::string::npos;
    if (dash != std::string::npos) {
        result.name = name->substr(0, dash);
        result.className = name->substr(dash + 3);
    }
    return result;
}

std::optional<std::string> textOrNone(std::string_view text) {
    return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

}  // namespace

void MatchRecordBuilder::noteUnits(std::string_view data) {
    for (int unit = 0; unit < 2 && !data.empty(); ++unit) {
        const std::string_view guid = nextField(data);
        const auto name = nextQuoted(data);
        const std::string_view flags = nextField(data);
        nextField(data);  // raid flags
        if (!name || name->empty() || !guid.starts_with("Player-")) {
            continue;
        }
        bool learned = false;
        // A player unit that is the log's own: the player.
        if (!self_ && flags == "0x511") {
            self_ = std::string(guid);
            learned = true;
        }
        if (!names_.contains(guid)) {
            names_.emplace(guid, *name);
            learned = true;
        }
        if (learned) {
            updateWants();
        }
    }
}

void MatchRecordBuilder::roundStarted(Date date, std::string_view bracket, std::string_view data,
                                      std::size_t nextCue) {
    rounds_.push_back({date, nextCue});
    bracket_ = std::string(bracket);
    // The field after the bracket's name: 1 in rated 2v2 and 3v3 (a rated shuffle writes 0).
    for (int skipped = 0; skipped < 3; ++skipped) {
        nextField(data);
    }
    rated_ = nextField(data) == "1";
}

void MatchRecordBuilder::combatantInfo(std::string_view guid, std::string_view teamText,
                                       std::string_view specializationId, std::string_view data) {
    auto found = std::find_if(combatants_.begin(), combatants_.end(),
                              [guid](const CombatantSeen& seen) { return seen.guid == guid; });
    if (found == combatants_.end()) {
        const auto lists = data.rfind(']');
        combatants_.push_back({std::string(guid),
                               {},
                               std::string(specializationId),
                               lists == std::string_view::npos ? "" : std::string(data.substr(lists + 1))});
        found = std::prev(combatants_.end());
        updateWants();
    }
    found->teams.resize(std::max(found->teams.size(), currentRound() + 1));
    found->teams[currentRound()] = team(teamText);
}

void MatchRecordBuilder::died(Date date, std::string_view guid, std::string_view name, bool friendly,
                              std::size_t nextCue) {
    deaths_.push_back({date, currentRound(), std::string(guid), std::string(name), friendly, nextCue});
    if (!names_.contains(guid)) {
        names_.emplace(guid, name);
        updateWants();
    }
}

void MatchRecordBuilder::matchEnded(std::string_view winningTeam, std::string_view duration,
                                    std::string_view team0Mmr, std::string_view team1Mmr) {
    const auto number = [](std::string_view text) { return tavrin::parseInteger(text).value_or(0); };
    end_ = Record::End{number(winningTeam), number(duration), {number(team0Mmr), number(team1Mmr)}};
}

void MatchRecordBuilder::updateWants() {
    wantsUnits_ =
        !self_ || std::any_of(combatants_.begin(), combatants_.end(),
                              [this](const CombatantSeen& seen) { return !names_.contains(seen.guid); });
}

MatchRecordBuilder::Built MatchRecordBuilder::build(const Ending& ending) const {
    Built built;
    Record& record = built.record;
    record.stamp = ending.stamp;
    record.start = tavrin::isoLocalTime(ending.start);
    record.duration = offset(ending.start, ending.last);
    record.ending = ending.kind;
    record.zone = {ending.zoneId, ending.zoneName};
    const auto bracket = bracket_ ? bracket_ : ending.bracket;
    const bool shuffle = bracket && bracket->ends_with("Solo Shuffle");
    if (bracket) {
        record.bracket = Record::Bracket{*bracket, rated_ || bracket->starts_with("Rated"), shuffle};
    }
    // Outside a shuffle one round spans the match, whatever ARENA_MATCH_START lines it has.
    const std::size_t roundCount = shuffle ? std::max<std::size_t>(rounds_.size(), 1) : 1;
    const auto roundOf = [shuffle](std::size_t seen) { return shuffle ? seen : 0; };
    const auto nameOf = [this](std::string_view guid) -> std::optional<std::string> {
        const auto found = names_.find(guid);
        return found != names_.end() ? std::optional<std::string>(found->second) : std::nullopt;
    };

    for (const CombatantSeen& seen : combatants_) {
        Record::Combatant entry{.guid = seen.guid,
                                .name = nameOf(seen.guid),
                                .team = std::nullopt,
                                .teams = seen.teams,
                                .specialization = specialization(seen.specializationId),
                                .honorLevel = std::nullopt,
                                .rating = std::nullopt};
        const auto first = std::find_if(seen.teams.begin(), seen.teams.end(), [](auto team) { return team; });
        entry.team = first != seen.teams.end() ? *first : std::nullopt;
        entry.teams.resize(roundCount);
        if (!shuffle) {
            entry.teams = {entry.team};
        }
        std::string_view figures = seen.figures;
        nextField(figures);  // empty: the figures follow the lists' closing bracket and a comma
        std::vector<std::optional<std::int64_t>> numbers;
        while (!figures.empty()) {
            numbers.push_back(tavrin::parseInteger(nextField(figures)));
        }
        if (numbers.size() == 4 && std::all_of(numbers.begin(), numbers.end(), [](auto n) { return n; })) {
            entry.honorLevel = numbers[0];
            entry.rating = Record::Rating{*numbers[1], *numbers[2], *numbers[3]};
        }
        record.combatants.push_back(std::move(entry));
    }
    const auto recorded = [&record](std::string_view guid) -> const Record::Combatant* {
        const auto found =
            std::find_if(record.combatants.begin(), record.combatants.end(),
                         [guid](const Record::Combatant& entry) { return entry.guid == guid; });
        return found != record.combatants.end() ? &*found : nullptr;
    };
    const auto teamIn = [&recorded](std::string_view guid, std::size_t round) -> std::optional<int> {
        const Record::Combatant* entry = recorded(guid);
        return entry && round < entry->teams.size() ? entry->teams[round] : std::nullopt;
    };

    const auto playerGuid = self_ ? self_ : ending.playerGuid;
    if (playerGuid) {
        Record::Player player{*playerGuid, nameOf(*playerGuid), {}, std::nullopt};
        if (!player.name && playerGuid == ending.playerGuid) {
            player.name = ending.playerName;
        }
        if (const Record::Combatant* entry = recorded(*playerGuid)) {
            player.specialization = entry->specialization;
            player.team = entry->team;
        }
        record.player = std::move(player);
    }
    const auto playerTeam = [&](std::size_t round) {
        return playerGuid ? teamIn(*playerGuid, round) : std::nullopt;
    };

    for (const DeathSeen& seen : deaths_) {
        const std::size_t round = roundOf(seen.round);
        auto team = teamIn(seen.guid, round);
        const auto own = playerTeam(round);
        if (!team && own) {
            team = seen.friendly ? *own : 1 - *own;
        }
        const bool friendSide = team && own && record.player ? *team == *own : seen.friendly;
        record.deaths.push_back({offset(ending.start, seen.date), static_cast<int>(round) + 1, seen.guid,
                                 textOrNone(seen.name), team, friendSide ? "friend" : "enemy"});
    }

    for (std::size_t index = 0; index < roundCount; ++index) {
        Record::Round round{static_cast<int>(index) + 1, 0.0, record.duration, std::nullopt, std::nullopt};
        const bool started = index < rounds_.size();
        if (started) {
            round.start = offset(ending.start, rounds_[index].date);
        }
        if (!shuffle) {
            if (end_ && ending.kind == "match end") {
                if (end_->winningTeam == 0 || end_->winningTeam == 1) {
                    round.winner = static_cast<int>(end_->winningTeam);
                }
                const auto own = playerTeam(0);
                round.result = !round.winner ? std::optional<std::string>("draw")
                               : own ? std::optional<std::string>(*round.winner == *own ? "win" : "loss")
                                     : std::nullopt;
            }
            record.rounds.push_back(std::move(round));
            continue;
        }
        // A shuffle's round ends at its first player death.
        const auto first = std::find_if(deaths_.begin(), deaths_.end(),
                                        [index](const DeathSeen& seen) { return seen.round == index; });
        const bool next = index + 1 < rounds_.size();
        std::optional<std::pair<std::size_t, Date>> closed;  // where the end's cue goes, and when
        if (first != deaths_.end()) {
            const Record::Death& death = record.deaths[static_cast<std::size_t>(first - deaths_.begin())];
            round.end = death.time;
            round.winner = death.team ? std::optional<int>(1 - *death.team) : std::nullopt;
            if (record.player) {
                round.result = death.side == "friend" ? "loss" : "win";
            }
            closed = {first->cue, first->date};
        } else if (next || ending.kind == "match end") {
            round.end = next ? offset(ending.start, rounds_[index + 1].date) : record.duration;
            round.result = "draw";
            // Closed by the next round's start, or by the match's end (before its End entry).
            closed = next ? std::pair(rounds_[index + 1].cue, rounds_[index + 1].date)
                          : std::pair(ending.entries - 1, ending.last);
        }
        const std::string number = "Round " + std::to_string(index + 1);
        if (started) {
            built.cues.push_back({rounds_[index].cue, rounds_[index].date, number});
        }
        if (closed) {
            const std::string said = round.result == "win"    ? "won"
                                     : round.result == "loss" ? "lost"
                                     : round.result == "draw" ? "draw"
                                                              : "ended";
            built.cues.push_back({closed->first, closed->second, number + ": " + said});
        }
        record.rounds.push_back(std::move(round));
    }

    if (ending.kind == "match end") {
        Record::Result result;
        int won = 0, lost = 0;
        for (const Record::Round& round : record.rounds) {
            won += round.result == "win";
            lost += round.result == "loss";
            result.roundsDrawn += round.result == "draw";
        }
        if (record.player) {
            result.roundsWon = won;
            result.roundsLost = lost;
        }
        if (!shuffle) {
            result.outcome = record.rounds.front().result;
        }
        record.result = result;
    }
    record.end = end_;
    std::stable_sort(built.cues.begin(), built.cues.end(),
                     [](const Cue& a, const Cue& b) { return a.before < b.before; });
    return built;
}

void MatchRecordBuilder::clear() {
    *this = MatchRecordBuilder();
}

}  // namespace parlan
