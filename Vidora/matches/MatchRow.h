// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/MatchRecord.h"

namespace vidora {

enum class Outcome { win, loss, draw };

// The match record beside a movie (docs/match-record.md), read for the list, or why there is none in a
// sentence for the player: not readable, cut short, of a newer version.
struct RecordReading {
    std::optional<tavrin::MatchRecord> record;
    std::string problem;
};
RecordReading readRecord(std::string_view text);

// A movie in the movies folder or its Kept folder, as a directory listing tells it.
struct MovieFile {
    std::string path;
    // The match's start, which names its subtitles, record and match log; a movie recovered beside another
    // of the same start ("<stamp> (2).mp4") shares them.
    std::string stamp;
    bool kept = false;
    bool recording = false;  // an "mp0": being recorded, never played or moved
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds since the epoch
    bool operator==(const MovieFile&) const = default;
};

struct TeamMember {
    std::string spec;
    std::string className;
    bool operator==(const TeamMember&) const = default;
};

// What a timeline says: a death or a round's bounds, at seconds from the start.
struct TimelineMark {
    enum class Kind { friendlyDeath, enemyDeath, death, roundStart, roundEnd };
    double time = 0;
    Kind kind = Kind::death;
    std::string label;              // "Thoaxx-Magtheridon-US died", "Round 2: won"
    std::optional<Outcome> result;  // a round's, at its end
    bool operator==(const TimelineMark&) const = default;
};

// One row of the match list: the movie and what its record, else its subtitles, tell.
struct MatchRow {
    MovieFile file;
    std::string bracket;
    std::string arena;
    bool shuffle = false;
    std::optional<Outcome> outcome;
    int roundsWon = 0;
    int roundsLost = 0;
    bool hasResult = false;
    std::string rating;  // the rating figures, as the match's end gives them
    std::optional<double> length;
    std::string playerName;
    std::string playerSpec;
    std::string playerClass;
    std::vector<TeamMember> friends;
    std::vector<TeamMember> enemies;
    int deaths = 0;
    std::vector<std::string> names;   // of every combatant and the dead, for the search
    std::vector<TimelineMark> marks;  // deaths and rounds, by time
    // Where a picture of the fight is, past the loading screen.
    double pictureTime = 0;
    // What is missing or wrong, in a sentence for the row: "No match record.", "Being recorded."
    std::string note;

    // "Won", "Lost", "4-2" for a shuffle's rounds; empty when not known.
    std::string resultText() const;
    // "9:14" or "1:02:03".
    static std::string formatLength(double seconds);

    bool operator==(const MatchRow&) const = default;
};

// The match's file beside the movie with the extension given ("json", "srt").
std::string matchFile(const MovieFile& movie, std::string_view extension);

// The row of a movie from its record's text, else from its subtitles' text (either may be empty: no file).
MatchRow summarize(const MovieFile& file, std::string_view recordText, std::string_view subtitlesText,
                   bool hasRecord);
// Reads the record and the subtitles beside the movie (the same stamp, in the movie's folder).
MatchRow summarize(const MovieFile& file);

// The timeline of a match's subtitles: deaths as "Death: <name> (F)" or "(E)", the facts at the end.
MatchRow summarizeSubtitles(const MovieFile& file, std::string_view subtitles);

}  // namespace vidora
