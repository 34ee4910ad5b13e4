// SPDX-License-Identifier: GPL-3.0-or-later
// A movie's row from its match record or its subtitles, and a word for a record that cannot be read.
#include <gtest/gtest.h>

#include "matches/MatchRow.h"

namespace vidora {
namespace {

MovieFile movie(const std::string& stamp) {
    MovieFile file;
    file.path = "/m/" + stamp + ".mp4";
    file.stamp = stamp;
    return file;
}

// A shuffle as the record's format document shows it, with a field this reader does not know.
const std::string shuffle =
    R"({"version": 1, "stamp": "2024-09-13 13.31.52", "duration": 563.215, "ending": "match end",
 "zone": {"id": 1505, "name": "Nagrand Arena"}, "future": {"any": [1, 2]},
 "bracket": {"name": "Rated Solo Shuffle", "rated": true, "shuffle": true},
 "player": {"guid": "P-1", "name": "Boppitty-Tichondrius-US", "spec": "Affliction", "class": "Warlock", "team": 0},
 "combatants": [{"guid": "P-1", "name": "Boppitty-Tichondrius-US", "team": 0, "teams": [1, 0], "spec": "Affliction",
                 "class": "Warlock", "rating": {"season": 38, "personal": 1048, "highestTier": 311}},
                {"guid": "P-2", "name": "Thoaxx-Magtheridon-US", "team": 1, "teams": [1, 1], "spec": "Arms",
                 "class": "Warrior"},
                {"guid": "P-3", "name": "Lumi-Area52-US", "team": 0, "teams": [0, 0], "spec": "Holy", "class": "Priest"}],
 "deaths": [{"time": 128.54, "round": 1, "guid": "P-3", "name": "Lumi-Area52-US", "team": 0, "side": "enemy"},
            {"time": 300.5, "round": 2, "guid": "P-2", "name": null, "team": 1, "side": "friend"}],
 "rounds": [{"number": 1, "start": 39.3, "end": 128.54, "winner": 1, "result": "win"},
            {"number": 2, "start": 180, "end": 300.5, "winner": 0, "result": "loss"}],
 "result": {"outcome": null, "roundsWon": 4, "roundsLost": 2, "roundsDrawn": 0},
 "end": {"winningTeam": 0, "duration": 226, "mmr": [1428, 1446]}})";

TEST(MatchRecord, ARowAndItsMarksFromTheRecordAndAWordForARecordThatCannotBeRead) {
    // A row: a shuffle's first round's teams, its rounds marked with their results, the deaths by side.
    const auto row = summarize(movie("2024-09-13 13.31.52"), shuffle, "", true);
    EXPECT_EQ(row.resultText(), "4-2");
    EXPECT_EQ(row.rating, "1048 · MMR 1446 vs 1428");  // the player's team (1 in the first round) first
    EXPECT_EQ(row.friends, (std::vector<TeamMember>{{"Affliction", "Warlock"}, {"Arms", "Warrior"}}));
    EXPECT_EQ(row.enemies, (std::vector<TeamMember>{{"Holy", "Priest"}}));
    std::vector<std::string> labels;
    for (const auto& mark : row.marks) {
        labels.push_back(mark.label);
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"Round 1", "Lumi-Area52-US died", "Round 1: won", "Round 2",
                                                "A player died", "Round 2: lost"}));
    EXPECT_DOUBLE_EQ(row.pictureTime, 125.54);  // before the first death, past the gates
    EXPECT_EQ(row.note, "");

    const std::string cut = shuffle.substr(0, shuffle.size() / 2);
    for (const auto& [text, problem] : std::vector<std::pair<std::string, std::string>>{
             {R"({"version": 2, "deaths": "a new form"})",
              "The match record is of a newer version (2): update Vidora to read it."},
             {cut, "The match record is cut short."},
             {"", "The match record is cut short."},
             {"<html>", "The match record is not readable."},
             {"[1, 2]", "The match record is not readable."},
             {R"({"stamp": "x"})", "The match record is not readable."},
             {R"({"version": 1, "duration": "long"})", "The match record is not readable."}}) {
        const auto refused = readRecord(text);
        EXPECT_FALSE(refused.record) << text;
        EXPECT_EQ(refused.problem, problem) << text;
    }
}

// Movies without a record (by hand, or from before records) tell what their subtitles tell; an unreadable
// record says so in the row, over what the subtitles tell.
TEST(MatchRecord, AMovieWithoutARecordIsToldByItsSubtitles) {
    const std::string subtitles =
        "1\r\n00:00:00,000 --> 00:00:02,000\r\nStart: Nagrand Arena\r\n\r\n"
        "2\r\n00:01:41,327 --> 00:01:43,327\r\nDeath: Tanzof-TheseGoToEleven-TR (E)\r\n\r\n"
        "3\r\n00:02:10,000 --> 00:02:12,000\r\nDeath: Lumi (F)\r\n\r\n"
        "4\r\n00:04:45,960 --> 00:04:45,960\r\nArenaType: 3v3\r\n\r\n"
        "5\r\n00:04:45,960 --> 00:04:45,960\r\nZoneName: Nagrand Arena\r\n\r\n"
        "6\r\n00:04:45,960 --> 00:04:45,960\r\nPlayerTeam: 0\r\n\r\n"
        "7\r\n00:04:45,960 --> 00:04:45,960\r\nWinTeam: Away\r\n\r\n"
        "8\r\n00:04:45,960 --> 00:04:45,960\r\nScore: 1473\r\n\r\n";
    const auto row = summarize(movie("2024-09-13 13.31.52"), "", subtitles, false);
    EXPECT_EQ(row.note, "No match record.");
    EXPECT_EQ(row.bracket, "3v3");
    EXPECT_EQ(row.arena, "Nagrand Arena");
    EXPECT_EQ(row.resultText(), "Lost");
    EXPECT_EQ(row.rating, "rating 1473");
    EXPECT_EQ(MatchRow::formatLength(*row.length), "4:46");
    EXPECT_EQ(row.deaths, 2);
    EXPECT_EQ(row.marks[0].kind, TimelineMark::Kind::enemyDeath);
    EXPECT_EQ(row.marks[1].label, "Lumi died");
    EXPECT_EQ(row.marks[1].kind, TimelineMark::Kind::friendlyDeath);

    const auto newer = summarize(movie("2024-09-13 13.31.52"), R"({"version": 9})", subtitles, true);
    EXPECT_EQ(newer.note, "The match record is of a newer version (9): update Vidora to read it.");
    EXPECT_EQ(newer.arena, "Nagrand Arena");
    const auto bare = summarize(movie("2024-09-13 13.31.52"), "", "", false);
    EXPECT_EQ(bare.note, "No match record and no subtitles.");
    EXPECT_DOUBLE_EQ(bare.pictureTime, 30);
}

}  // namespace
}  // namespace vidora
