// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

// What the proxy knows of one arena match, as `<stamp>.json` beside its subtitles holds it
// (docs/match-record.md). Times are seconds from `start`, the subtitles' zero. The proxy writes it;
// the recorder and its match browser read it.
struct MatchRecord {
    static constexpr int currentVersion = 1;

    struct Zone {
        std::int64_t id = 0;
        std::string name;
    };
    struct Bracket {
        std::string name;
        bool rated = false;
        bool shuffle = false;
    };
    // What a COMBATANT_INFO line says of a player's class and specialization.
    struct Specialization {
        std::optional<std::int64_t> id;
        std::optional<std::string> name;
        std::optional<std::string> className;
    };
    struct Player {
        std::string guid;
        std::optional<std::string> name;
        Specialization specialization;
        std::optional<int> team;
    };
    struct Rating {
        std::int64_t season = 0;
        std::int64_t personal = 0;
        std::int64_t highestTier = 0;
    };
    struct Combatant {
        std::string guid;
        std::optional<std::string> name;
        std::optional<int> team;
        std::vector<std::optional<int>> teams;  // one per round
        Specialization specialization;
        std::optional<std::int64_t> honorLevel;
        std::optional<Rating> rating;
    };
    struct Death {
        double time = 0;
        int round = 1;
        std::string guid;
        std::optional<std::string> name;
        std::optional<int> team;
        std::optional<std::string> side;  // "friend" or "enemy"
    };
    struct Round {
        int number = 1;
        double start = 0;
        double end = 0;
        std::optional<int> winner;
        std::optional<std::string> result;  // "win", "loss" or "draw"
    };
    struct Result {
        std::optional<std::string> outcome;
        std::optional<int> roundsWon;
        std::optional<int> roundsLost;
        int roundsDrawn = 0;
    };
    struct End {
        std::int64_t winningTeam = 0;
        std::int64_t duration = 0;
        std::array<std::int64_t, 2> mmr{};  // matchmaking rating of team 0 and team 1
    };

    int version = currentVersion;
    std::string stamp;
    std::string start;  // ISO 8601 local time with the UTC offset
    double duration = 0;
    std::string ending;  // "match end", "zone" or "idle"
    Zone zone;
    std::optional<Bracket> bracket;
    std::optional<Player> player;
    std::vector<Combatant> combatants;
    std::vector<Death> deaths;
    std::vector<Round> rounds;
    std::optional<Result> result;
    std::optional<End> end;
};

// The record as JSON text, UTF-8, ending with a line feed.
std::string toJson(const MatchRecord& record);

// A record read from JSON text; nothing, with the reason in `why` when given, for text that is no record
// or a record of a version newer than this program knows. Fields it does not know are passed over.
std::optional<MatchRecord> readMatchRecord(std::string_view text, std::string* why = nullptr);

}  // namespace tavrin
