// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vidora {

// The match record the proxy writes beside each movie's subtitles ("<stamp>.json", format version 1):
// what the match browser and the player read of it. Unknown fields are ignored; a field of the wrong type
// counts as missing.
enum class Outcome { win, loss, draw };
enum class Side { friendly, enemy };

struct Combatant {
    std::string guid;
    std::string name;
    std::string spec;
    std::string className;
    std::optional<int> team;
    std::vector<int> teams;  // the team of each round of a shuffle
};

struct Death {
    double time = 0;  // seconds from the match's start, the movie's and the subtitles' zero
    int round = 1;
    std::string guid;
    std::string name;
    std::optional<Side> side;  // relative to the player's team in that round
};

struct Round {
    int number = 1;
    double start = 0;
    double end = 0;
    std::optional<Outcome> result;  // the player's
};

struct MatchRecord {
    int version = 0;
    double duration = 0;
    std::string ending;  // "match end", "zone" or "idle"
    std::string zone;
    std::string bracket;  // empty without a match start in the log
    bool rated = false;
    bool shuffle = false;
    std::optional<Combatant> player;
    std::vector<Combatant> combatants;
    std::vector<Death> deaths;
    std::vector<Round> rounds;
    // Null when the match was left before its end.
    bool hasResult = false;
    std::optional<Outcome> outcome;
    int roundsWon = 0;
    int roundsLost = 0;
    // The rating figures of the match's end as the record names them, in its order.
    std::vector<std::pair<std::string, std::string>> endFigures;
};

// The newest record version this reader knows.
inline constexpr int knownRecordVersion = 1;

// A record read, or why there is none: a sentence for the player.
struct RecordReading {
    std::optional<MatchRecord> record;
    std::string problem;
};

RecordReading readMatchRecord(std::string_view text);
// Reads the file; a missing file is a problem of its own ("No match record").
RecordReading readMatchRecordFile(const std::string& path);

}  // namespace vidora
