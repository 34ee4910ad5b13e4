// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"
#include "common/MatchRecord.h"

namespace parlan {

using tavrin::Date;

// Gathers the match record (docs/match-record.md) while a match goes on: its rounds, combatants, deaths,
// end and who the player is, and at the end builds the record and the rounds' subtitle cues. Fed by the
// tracker's handlers and, for names and the player, by the units any line of the match names. Belongs
// to LogEvent; polling thread only.
class MatchRecordBuilder {
public:
    // A subtitle cue of the rounds, written before the timeline entry of index `before`.
    struct Cue {
        std::size_t before;
        Date date;
        std::string text;
    };
    // What the tracker knows of the match when it ends.
    struct Ending {
        std::string stamp;
        Date start;
        Date last;
        std::size_t entries = 0;  // the timeline's, the End entry last
        std::string kind;         // "match end", "zone" or "idle"
        std::int64_t zoneId = 0;
        std::string zoneName;
        // As the last ARENA_MATCH_START and SPELL_AURA_APPLIED named them, in the match or before it.
        std::optional<std::string> bracket;
        std::optional<std::string> playerGuid;
        std::optional<std::string> playerName;
    };
    struct Built {
        tavrin::MatchRecord record;
        std::vector<Cue> cues;  // in the order of `before`
    };

    // Whether the units that lines name are wanted: the player or a combatant's name is still unknown.
    bool wantsUnits() const { return wantsUnits_; }
    // The source and destination units at the head of a line's data, as the game writes them
    // (`GUID,"name",unitFlags,raidFlags` twice): names of players, and the player among them.
    void noteUnits(std::string_view data);

    // ARENA_MATCH_START: `data` its whole data; `nextCue` the number of timeline entries so far.
    void roundStarted(Date date, std::string_view bracket, std::string_view data, std::size_t nextCue);
    // COMBATANT_INFO: the groups the tracker matched, and the line's data for the figures after its lists.
    void combatantInfo(std::string_view guid, std::string_view team, std::string_view specializationId,
                       std::string_view data);
    // A player's UNIT_DIED; `nextCue` the number of timeline entries with its own.
    void died(Date date, std::string_view guid, std::string_view name, bool friendly, std::size_t nextCue);
    // ARENA_MATCH_END's four numbers.
    void matchEnded(std::string_view winningTeam, std::string_view duration, std::string_view team0Mmr,
                    std::string_view team1Mmr);

    Built build(const Ending& ending) const;
    void clear();

private:
    struct RoundStart {
        Date date;
        std::size_t cue;
    };
    struct DeathSeen {
        Date date;
        std::size_t round;  // 0-based
        std::string guid;
        std::string name;
        bool friendly;
        std::size_t cue;
    };
    struct CombatantSeen {
        std::string guid;
        std::vector<std::optional<int>> teams;
        std::string specializationId;
        std::string figures;  // after the lists: honor level, season, personal rating, highest tier
    };

    std::size_t currentRound() const { return rounds_.empty() ? 0 : rounds_.size() - 1; }
    void updateWants();

    std::vector<RoundStart> rounds_;
    std::vector<DeathSeen> deaths_;
    std::vector<CombatantSeen> combatants_;
    std::map<std::string, std::string, std::less<>> names_;
    std::optional<std::string> self_;
    std::optional<std::string> bracket_;
    bool rated_ = false;
    std::optional<tavrin::MatchRecord::End> end_;
    bool wantsUnits_ = true;
};

}  // namespace parlan
