// SPDX-License-Identifier: GPL-3.0-or-later
// The game's real combat logs replayed through the engine; each expected value is read off the log
// lines named in the comments (line numbers of the files in combatlogs/), and each match record is
// checked against a reading of the log's own lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TemporaryFolder.h"
#include "common/MatchRecord.h"

namespace {

using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::writeFile;

const std::string combatLogs = TAVRIN_COMBATLOGS;

struct ExpectedMatch {
    std::string stamp;
    std::string zone;
    std::string end;
    std::string firstDeathAt;     // where the first death's cue begins
    std::string endAt;            // where the end and the fact cues begin
    std::set<std::string> facts;  // who the player is, what was played, who won
    std::vector<std::string> deaths;
};

// Clang before 16 cannot initialise an aggregate from parentheses.
ExpectedMatch expectedMatch(std::string stamp, std::string zone, std::string end, std::string firstDeathAt,
                            std::string endAt, std::set<std::string> facts, std::vector<std::string> deaths) {
    return {std::move(stamp), std::move(zone),  std::move(end),   std::move(firstDeathAt),
            std::move(endAt), std::move(facts), std::move(deaths)};
}

// A SubRip file of the timeline's cues, then zero-length fact cues.
void expectSubtitles(const std::string& text, const ExpectedMatch& want) {
    static const std::regex cue(R"(\d+\r\n([\d:,]{12}) --> ([\d:,]{12})\r\n([^\r\n]*)\r\n\r\n)");
    static const std::regex checkedFact("(PlayerName|PlayerTeam|PlayerSpec|ArenaType|WinTeam): .*");
    std::vector<std::string> timeline{"Start: " + want.zone};
    for (const auto& death : want.deaths) {
        timeline.push_back("Death: " + death);
    }
    timeline.push_back("End: " + want.end);
    std::vector<std::string> texts, starts;
    std::set<std::string> facts;
    std::smatch match;
    auto at = text.cbegin();
    for (; std::regex_search(at, text.cend(), match, cue, std::regex_constants::match_continuous);
         at = match[0].second) {
        if (match.str(3).starts_with("Round ")) {
            continue;  // a shuffle's rounds: checked against the log by expectRecord
        }
        if (match.str(1) != match.str(2)) {
            texts.push_back(match.str(3));
            starts.push_back(match.str(1));
        } else if (std::regex_match(match.str(3), checkedFact)) {
            facts.insert(match.str(3));
        }
    }
    EXPECT_TRUE(at == text.cend()) << "not SubRip: " << std::string(at, text.cend()).substr(0, 80);
    EXPECT_EQ(facts, want.facts);
    ASSERT_EQ(texts, timeline);
    EXPECT_EQ(starts[1], want.firstDeathAt);
    EXPECT_EQ(starts.back(), want.endAt);
}

// What one match's lines say, read without the engine: the player (the unit flagged 0x511), each
// round's winner and result and the subtitles' round cues, and the player deaths (a UNIT_DIED of a
// Player- unit whose last field is 0, the unit flags' 0x10 bit marking the player's side).
struct LogReading {
    std::string player;
    std::vector<std::string> rounds;  // "winner result", "-" for none
    std::vector<std::string> deaths;  // "round guid name"
    std::vector<std::string> cues;
};

LogReading readMatch(const std::string& lines) {
    LogReading reading;
    const bool shuffle = lines.find(",Rated Solo Shuffle,") != std::string::npos;
    std::map<std::string, int> teams;
    int round = 0;
    std::string decided;  // the round's "winner result" once a player died
    const auto close = [&](bool ended) {
        if (round > 0 && shuffle) {
            const std::string said = decided.ends_with("win")    ? "won"
                                     : decided.ends_with("loss") ? "lost"
                                                                 : "draw";
            reading.rounds.push_back(decided.empty() ? ended ? "- draw" : "- -" : decided);
            if (!decided.empty() || ended) {
                reading.cues.push_back("Round " + std::to_string(round) + ": " + said);
            }
        }
    };
    std::istringstream text(lines);
    for (std::string line; std::getline(text, line);) {
        static const std::regex own(R"((Player-[^,]+),"[^"]+",0x511,)");
        std::smatch unit;
        if (reading.player.empty() && std::regex_search(line, unit, own)) {
            reading.player = unit.str(1);
        }
        if (line.find("  ") == std::string::npos) {
            continue;
        }
        std::vector<std::string> field;
        std::istringstream fields(line.substr(line.find("  ") + 2));
        for (std::string value; std::getline(fields, value, ',');) {
            field.push_back(value);
        }
        if (field[0] == "ARENA_MATCH_START") {
            close(true);
            if (shuffle) {
                reading.cues.push_back("Round " + std::to_string(round + 1));
            }
            ++round;
            decided.clear();
        } else if (field[0] == "COMBATANT_INFO") {
            teams[field[1]] = std::stoi(field[2]);
        } else if (field[0] == "UNIT_DIED" && field[5].starts_with("Player-") && field.back() == "0") {
            reading.deaths.push_back(std::to_string(std::max(round, 1)) + " " + field[5] + " " +
                                     field[6].substr(1, field[6].size() - 2));
            if (shuffle && decided.empty()) {
                const bool friendly = std::stoul(field[7], nullptr, 16) & 0x10;
                decided = std::to_string(1 - teams.at(field[5])) + (friendly ? " loss" : " win");
            }
        } else if (field[0] == "ARENA_MATCH_END") {
            close(true);
            if (!shuffle) {
                const std::string& winner = field[1];
                reading.rounds.push_back(
                    winner + (std::to_string(teams.at(reading.player)) == winner ? " win" : " loss"));
            }
            return reading;
        }
    }
    close(false);
    if (!shuffle) {
        reading.rounds.push_back("- -");
    }
    return reading;
}

// The match's record against its lines: the log's text from after the previous match's end to its own.
void expectRecord(const std::string& lines, const std::string& record, const std::string& subtitles) {
    std::string why;
    const auto read = tavrin::readMatchRecord(record, &why);
    ASSERT_TRUE(read) << why;
    const LogReading want = readMatch(lines);
    EXPECT_EQ(read->player ? read->player->guid : "", want.player);
    std::vector<std::string> rounds, deaths, cues;
    for (const auto& round : read->rounds) {
        rounds.push_back((round.winner ? std::to_string(*round.winner) : "-") + " " +
                         round.result.value_or("-"));
    }
    for (const auto& death : read->deaths) {
        deaths.push_back(std::to_string(death.round) + " " + death.guid + " " + death.name.value_or(""));
    }
    std::istringstream cueLines(subtitles);
    for (std::string line; std::getline(cueLines, line);) {
        if (line.starts_with("Round ")) {
            cues.push_back(line.substr(0, line.size() - 1));  // without the \r
        }
    }
    EXPECT_EQ(rounds, want.rounds);
    EXPECT_EQ(deaths, want.deaths);
    EXPECT_EQ(cues, want.cues);
}

// Replays the log text with the tool into a Movies folder of its own; the tool prints each match's
// stamp, zone and end, and the match's files are named after the stamp of its start.
void expectReplay(const std::string& logText, const std::vector<ExpectedMatch>& expected) {
    const TemporaryFolder movies;
    writeFile(movies.file("combat.txt"), logText);
    const std::string command = std::string("'") + PARLAN_REPLAY_TOOL + "' '" + movies.file("combat.txt") +
                                "' '" + movies.path() + "' >'" + movies.file("output.txt") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string folder = movies.path() + "/TavrinMovies/";
    std::string printed;
    std::size_t from = 0;
    for (const ExpectedMatch& want : expected) {
        SCOPED_TRACE("match " + want.stamp);
        printed += want.stamp + "\t" + want.zone + "\t" + want.end + "\n";
        EXPECT_EQ(readFile(folder + ".logs/" + want.stamp + ".cmd"),
                  "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\nCMD: End\r\n");
        expectSubtitles(readFile(folder + want.stamp + ".srt"), want);
        const std::size_t end = logText.find("\n", logText.find("ARENA_MATCH_END", from));
        expectRecord(logText.substr(from, end - from), readFile(folder + want.stamp + ".json"),
                     readFile(folder + want.stamp + ".srt"));
        from = end;
    }
    EXPECT_EQ(readFile(movies.file("output.txt")), printed);
}

// The log with lines put in front of and after it; in front, first its line number `copiedLine` (from 1).
std::string extendedLog(const std::string& name, int copiedLine, const std::string& before,
                        const std::string& after = "") {
    std::ifstream file(combatLogs + name, std::ios::binary);
    std::string line;
    for (int i = 0; i < copiedLine && std::getline(file, line); ++i) {
    }
    return line + "\n" + before + readFile(combatLogs + name) + after;
}

TEST(ReplayTest, SoloShufflesWithReloadsGiveOneMatchEach) {
    // Starts: ZONE_CHANGE into 1505, 1504, 572, 980 (lines 3, 405, 754, 1677), stamped with the line's
    // time; the ZONE_CHANGE lines a /reload writes later (6, 265, 640, 675, 1046, 1227) do not restart.
    // Ends: ARENA_MATCH_END (lines 401, 747, 1662, 2151), winning team 1, 255, 0, 0. The log has no
    // SPELL_AURA_APPLIED, so the player is never named and has no team: every result is "Away".
    // Deaths: UNIT_DIED of a player whose last field is 0 (a 1 is a feign death, e.g. lines 785, 1824);
    // unit flags 0x51x mark the player's side. Arena type from each shuffle's first ARENA_MATCH_START.
    const std::set<std::string> facts{"ArenaType: Rated Solo Shuffle", "WinTeam: Away"};
    expectReplay(
        readFile(combatLogs + "retail-11.0.2-soloshuffle-x4-reloads.txt"),
        {
            // Deaths: lines 64, 158, 201, 259, 369, 400.
            expectedMatch(
                "2024-09-13 13.31.52", "納葛蘭競技場", "Away, 27, 1428", "00:02:08,545", "00:10:58,298",
                facts,
                {"Thoaxx-Magtheridon-US (F)", "Boppitty-Tichondrius-US (E)", "Boppitty-Tichondrius-US (F)",
                 "Boppitty-Tichondrius-US (E)", "Bátmañ-Stormrage-US (E)", "Boppitty-Tichondrius-US (E)"}),
            // The 255 winner of line 747 still ends the match. Deaths: lines 531, 535, 606, 637, 673, 715,
            // 744, on a realm with an apostrophe (Zul'jin) too.
            expectedMatch("2024-09-13 13.58.35", "玄鴉堡競技場", "Away, 23, 1473", "00:02:47,279",
                          "00:09:14,841", facts,
                          {"Foehn-DarkIron-US (E)", "Nix-Illidan-US (E)", "Foehn-DarkIron-US (F)",
                           "Pastorhaunch-Zul'jin-US (E)", "Minjidan-Tichondrius-US (F)",
                           "Minjidan-Tichondrius-US (F)", "Pastorhaunch-Zul'jin-US (E)"}),
            // Deaths: lines 861, 1040, 1219, 1370, 1500, 1661.
            expectedMatch("2024-09-13 14.23.33", "羅德隆廢墟", "Away, 90, 1474", "00:02:22,424",
                          "00:12:44,764", facts,
                          {"Flayfreak-Darkspear-US (F)", "Ignornt-Illidan-US (F)", "Ignornt-Illidan-US (E)",
                           "ßoss-Barthilas-US (F)", "Ignornt-Illidan-US (E)", "Ignornt-Illidan-US (F)"}),
            // Deaths: lines 1720, 1763, 1916, 1996, 2044, 2150.
            expectedMatch("2024-09-13 15.26.24", "托維恩競技場", "Away, 109, 1505", "00:01:44,179",
                          "00:11:33,927", facts,
                          {"Unluckohunt-Dalaran-US (F)", "Alexstrasza-Frostmourne-US (F)",
                           "Alexstrasza-Frostmourne-US (E)", "Unluckohunt-Dalaran-US (F)",
                           "Fohtwenny-Skullcrusher-US (F)", "Unluckohunt-Dalaran-US (E)"}),
        });
}

TEST(ReplayTest, SkirmishSessionGivesOneWonMatch) {
    // Line 981 names the player (0x511) in Orgrimmar; line 985 enters 2547; line 1007 is a Skirmish;
    // line 1008 is the player's COMBATANT_INFO, team 0, specialization 264; line 13289 ends it with
    // team 0 winning after 226 s; line 13357 (back to Orgrimmar) comes after the end. Deaths: lines
    // 3587, 12815, 13285, all enemies (0x548, 0x10548), two of them with Cyrillic names.
    expectReplay(readFile(combatLogs + "retail-11.0.2beta-skirmish-3v3-full-session.txt"),
                 {expectedMatch("2024-07-28 14.37.54", "Enigma Crucible", "Home, 226, 0", "00:01:41,327",
                                "00:04:45,960",
                                {"PlayerName: Lavablurst-TheseGoToEleven-TR", "PlayerTeam: 0",
                                 "PlayerSpec: Restoration - Shaman", "ArenaType: Skirmish", "WinTeam: Home"},
                                {"Tanzof-TheseGoToEleven-TR (E)", "Свитер-TheseGoToEleven-TR (E)",
                                 "Мрбаблх-TheseGoToEleven-TR (E)"})});
}

// The cut log below gets back what a whole session holds before ARENA_MATCH_START: an aura line
// naming the player (the log's first with unit flags 0x511, copied) and the ZONE_CHANGE into the
// arena at the time of the log's first line.

TEST(ReplayTest, ShuffleRoundInTheTwelveLayoutNamesTheSpecialization) {
    // Line 25 names the player (0x511 as the aura's target); line 4, their COMBATANT_INFO: team 1, 23
    // numbers (the 12.x layout), the last one specialization 72. No ARENA_MATCH_END, so no WinTeam: the
    // player leaves for a city (2552, as in the 11.0.2 log) at the time of the last line. Deaths: line
    // 2218; line 789 ends in 1 (not dead).
    expectReplay(
        extendedLog("retail-12.x-soloshuffle-round0-reduced.txt", 25,
                    "3/31/2026 10:48:20.5012  ZONE_CHANGE,1505,\"Nagrand Arena\",0\n",
                    "3/31/2026 10:49:21.3622  ZONE_CHANGE,2552,\"Dornogal\",0\n"),
        {expectedMatch("2026-03-31 10.48.20", "Nagrand Arena", "Zone", "00:00:25,413", "00:01:00,861",
                       {"PlayerName: Gigadwarf-TarrenMill-EU", "PlayerTeam: 1", "PlayerSpec: Fury - Warrior",
                        "ArenaType: Rated Solo Shuffle"},
                       {"Shizoune-Blackmoore-EU (E)"})});
}

TEST(ReplayTest, RatedThreeVersusThreeLostAfterThePlayerDied) {
    // Line 12 names the player (0x511), whose COMBATANT_INFO (line 5, team 1) came before: the subtitles
    // know no team, the record does. Deaths: lines 27 (the player) and 30; line 32: team 0 wins.
    expectReplay(
        extendedLog("retail-11.2-3v3-reduced.txt", 0,
                    "8/30/2025 21:05:23.7758  ZONE_CHANGE,2373,\"Arena\",0\n"),
        {expectedMatch("2025-08-30 21.05.23", "Arena", "Away, 27, 1734", "00:00:17,008", "00:00:27,712",
                       {"PlayerName: Bossmoomoo-Tichondrius-US", "ArenaType: 3v3", "WinTeam: Away"},
                       {"Bossmoomoo-Tichondrius-US (F)", "Kelite-Tichondrius-US (F)"})});
}

}  // namespace
