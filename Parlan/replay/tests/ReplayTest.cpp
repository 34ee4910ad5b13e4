// The game's real combat logs replayed through the engine; each expected value is read off the log
// lines named in the comments (line numbers of the files in combatlogs/).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "TemporaryFolder.h"
#include "replay/Replay.h"

namespace {

using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::writeFile;

const std::string combatLogs = std::string(TAVRIN_SHARED_DIR) + "/combatlogs/";

struct Cue {
    std::string from;
    std::string to;
    std::string text;
};

// The cues of a SubRip file; any part that is not valid SubRip fails the test.
std::vector<Cue> readSubRip(const std::string& text) {
    static const std::regex timeLine(R"(\d\d:[0-5]\d:[0-5]\d,\d{3} --> \d\d:[0-5]\d:[0-5]\d,\d{3})");
    std::vector<std::string> lines;
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t end = text.find("\r\n", begin);
        EXPECT_NE(end, std::string::npos) << "unterminated last line";
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        EXPECT_EQ(lines.back().find('\n'), std::string::npos) << "bare line feed in " << lines.back();
        begin = end + 2;
    }
    std::vector<Cue> cues;
    for (std::size_t i = 0; i + 4 <= lines.size(); i += 4) {
        EXPECT_EQ(lines[i], std::to_string(cues.size() + 1));
        EXPECT_TRUE(std::regex_match(lines[i + 1], timeLine)) << lines[i + 1];
        EXPECT_EQ(lines[i + 3], "");
        Cue cue{lines[i + 1].substr(0, 12), lines[i + 1].substr(17), lines[i + 2]};
        EXPECT_LE(cue.from, cue.to);
        cues.push_back(std::move(cue));
    }
    EXPECT_EQ(lines.size() % 4, 0U);
    return cues;
}

// The base names of the files with `extension` in `folder`.
std::set<std::string> baseNames(const std::string& folder, const std::string& extension) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == extension) {
            names.insert(entry.path().stem().string());
        }
    }
    return names;
}

// The keys a player reads in a subtitle file; a key missing from `facts` must be absent.
const std::vector<std::string> checkedFacts = {"PlayerName", "PlayerTeam", "PlayerSpec", "ArenaType",
                                               "WinTeam",    "ZoneNumber", "Version"};

struct ExpectedMatch {
    std::string stamp;
    std::string zone;
    std::string end;  // empty while the log stops during the match
    std::vector<std::string> deaths;
    std::map<std::string, std::string> facts;
    std::string firstDeathAt;  // where the first death and the end cue begin
    std::string endAt;
};

class Replay {
public:
    explicit Replay(const std::string& logPath) {
        const auto replayed = parlan::replayLog(logPath, movies.path());
        EXPECT_TRUE(replayed.has_value()) << logPath;
        matches = replayed.value_or(std::vector<parlan::ReplayedMatch>{});
    }

    std::string subtitleFolder() const { return movies.path() + "/TavrinMovies/"; }
    std::string commandFolder() const { return movies.path() + "/TavrinMovies/.logs/"; }
    std::string matchLog(const std::string& stamp) const {
        return readFile(commandFolder() + stamp + ".log");
    }

    bool leftNoFiles() const {
        std::error_code error;
        return !std::filesystem::exists(subtitleFolder(), error) ||
               std::filesystem::recursive_directory_iterator(subtitleFolder(), error) ==
                   std::filesystem::recursive_directory_iterator();
    }

    void expectMatches(const std::vector<ExpectedMatch>& expected) const {
        ASSERT_EQ(matches.size(), expected.size());
        std::set<std::string> ended;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE("match " + expected[i].stamp);
            expectMatch(matches[i], expected[i]);
            if (!expected[i].end.empty()) {
                ended.insert(expected[i].stamp);
            }
        }
        // Command file and match log of every match, and a subtitle file for each one that ended,
        // all under the stamp of its start.
        std::set<std::string> started;
        for (const auto& match : expected) {
            started.insert(match.stamp);
        }
        EXPECT_EQ(baseNames(commandFolder(), ".cmd"), started);
        EXPECT_EQ(baseNames(commandFolder(), ".log"), started);
        EXPECT_EQ(baseNames(subtitleFolder(), ".srt"), ended);
    }

    std::vector<parlan::ReplayedMatch> matches;

private:
    void expectMatch(const parlan::ReplayedMatch& match, const ExpectedMatch& expected) const {
        EXPECT_EQ(match.stamp, expected.stamp);
        EXPECT_EQ(match.zone, expected.zone);
        EXPECT_EQ(match.end, expected.end);
        const std::string start = "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\n";
        EXPECT_EQ(readFile(commandFolder() + expected.stamp + ".cmd"),
                  expected.end.empty() ? start : start + "CMD: End\r\n");
        expectMatchLog(matchLog(expected.stamp));
        if (expected.end.empty()) {
            return;
        }

        const auto cues = readSubRip(readFile(subtitleFolder() + expected.stamp + ".srt"));
        std::vector<std::string> timeline;
        std::map<std::string, std::string> facts;
        for (const auto& cue : cues) {
            if (cue.from != cue.to) {
                timeline.push_back(cue.text);
                continue;
            }
            // Facts sit in zero-length cues at the end of the match.
            EXPECT_EQ(cue.from, expected.endAt);
            const auto separator = cue.text.find(": ");
            if (const auto key = cue.text.substr(0, separator);
                std::find(checkedFacts.begin(), checkedFacts.end(), key) != checkedFacts.end()) {
                facts[key] = cue.text.substr(separator + 2);
            }
        }
        std::vector<std::string> wanted{"Start: " + expected.zone};
        for (const auto& death : expected.deaths) {
            wanted.push_back("Death: " + death);
        }
        wanted.push_back("End: " + expected.end);
        EXPECT_EQ(timeline, wanted);
        EXPECT_EQ(facts, expected.facts);
        ASSERT_GE(cues.size(), wanted.size());
        EXPECT_EQ(cues.front().from + " " + cues.front().to, "00:00:00,000 00:00:02,000");
        EXPECT_EQ(cues[wanted.size() - 1].from, expected.endAt);
        if (!expected.deaths.empty()) {
            EXPECT_EQ(cues[1].from, expected.firstDeathAt);
        }
    }

    // Each copied line: "HH:mm:ss.SSS EVENT data \r\n", the UTC-offset digit dropped from the time.
    static void expectMatchLog(const std::string& text) {
        static const std::regex head(R"(\d\d:\d\d:\d\d\.\d{3} [A-Z_]+ )");
        EXPECT_FALSE(text.empty());
        for (std::size_t begin = 0, end = 0; (end = text.find("\r\n", begin)) != std::string::npos;
             begin = end + 2) {
            const std::string copied = text.substr(begin, end - begin);
            ASSERT_TRUE(std::regex_match(copied.substr(0, copied.find(' ', 13) + 1), head)) << copied;
            ASSERT_TRUE(copied.ends_with(' ')) << copied;
        }
        EXPECT_TRUE(text.ends_with("\r\n"));
    }

    TemporaryFolder movies;
};

// Line `number` (from 1) of a sample log, with its line feed.
std::string logLine(const std::string& name, int number) {
    std::ifstream file(combatLogs + name, std::ios::binary);
    std::string line;
    for (int i = 0; i < number && std::getline(file, line); ++i) {
    }
    return line + "\n";
}

// The log with lines put in front of and after it, in a file of its own.
std::string extendedLog(const TemporaryFolder& folder, const std::string& name, const std::string& before,
                        const std::string& after = "") {
    const std::string path = folder.file(name);
    writeFile(path, before + readFile(combatLogs + name) + after);
    return path;
}

TEST(ReplayTest, LogsWithoutAYearGiveNoMatch) {
    // "2/14 23:24:58.661", "12/13 20:33:09.259", "10/24 18:38:53.599": no line of these fits the head,
    // although the Classic log enters arenas 562 and 572 (lines 2, 1465) and the others play matches.
    for (const char* name : {"classic-3.4.1-wotlk-2arenas.txt", "retail-10.0.2-rated-soloshuffle.txt",
                             "retail-10.0.2beta-skirmish-3v3-full-session.txt",
                             "retail-10.0.2beta-soloshuffle-full-session.txt"}) {
        SCOPED_TRACE(name);
        const Replay replay(combatLogs + name);
        EXPECT_TRUE(replay.matches.empty());
        EXPECT_TRUE(replay.leftNoFiles());
    }
}

TEST(ReplayTest, LogsCutAtTheMatchStartGiveNoMatch) {
    // Each begins with ARENA_MATCH_START; without the ZONE_CHANGE into the arena no match starts.
    for (const char* name : {"retail-11.2-2v2-hunter_priest_match.txt", "retail-11.2-3v3-reduced.txt",
                             "retail-12.x-soloshuffle-round0-reduced.txt"}) {
        SCOPED_TRACE(name);
        const Replay replay(combatLogs + name);
        EXPECT_TRUE(replay.matches.empty());
        EXPECT_TRUE(replay.leftNoFiles());
    }
}

TEST(ReplayTest, SoloShufflesWithReloadsGiveOneMatchEach) {
    // Starts: ZONE_CHANGE into 1505, 1504, 572, 980 (lines 3, 405, 754, 1677), stamped with the line's
    // time; the ZONE_CHANGE lines a /reload writes later (6, 265, 640, 675, 1046, 1227) do not restart.
    // Ends: ARENA_MATCH_END (lines 401, 747, 1662, 2151), winning team 1, 255, 0, 0. The log has no
    // SPELL_AURA_APPLIED, so the player is never named and has no team: every result is "Away".
    // Deaths: UNIT_DIED of a player whose last field is 0 (a 1 is a feign death, e.g. lines 785, 1824);
    // unit flags 0x51x mark the player's side.
    const Replay replay(combatLogs + "retail-11.0.2-soloshuffle-x4-reloads.txt");
    auto facts = [](const std::string& zone, const std::string& win) {
        // Version from line 1, arena type from the first ARENA_MATCH_START of each shuffle.
        return std::map<std::string, std::string>{{"ArenaType", "Rated Solo Shuffle"},
                                                  {"WinTeam", win},
                                                  {"ZoneNumber", zone},
                                                  {"Version", "11.0.2"}};
    };
    replay.expectMatches({
        {"2024-09-13 13.31.52",
         "納葛蘭競技場",
         "Away, 27, 1428",
         // lines 64, 158, 201, 259, 369, 400
         {"Thoaxx-Magtheridon-US (F)", "Boppitty-Tichondrius-US (E)", "Boppitty-Tichondrius-US (F)",
          "Boppitty-Tichondrius-US (E)", "Bátmañ-Stormrage-US (E)", "Boppitty-Tichondrius-US (E)"},
         facts("1505", "Away"),
         "00:02:08,545",
         "00:10:58,298"},
        {"2024-09-13 13.58.35",
         "玄鴉堡競技場",
         "Away, 23, 1473",
         // lines 531, 535, 606, 637, 673, 715, 744; a realm with an apostrophe (Zul'jin)
         {"Foehn-DarkIron-US (E)", "Nix-Illidan-US (E)", "Foehn-DarkIron-US (F)",
          "Pastorhaunch-Zul'jin-US (E)", "Minjidan-Tichondrius-US (F)", "Minjidan-Tichondrius-US (F)",
          "Pastorhaunch-Zul'jin-US (E)"},
         facts("1504", "Away"),
         "00:02:47,279",
         "00:09:14,841"},
        {"2024-09-13 14.23.33",
         "羅德隆廢墟",
         "Away, 90, 1474",
         // lines 861, 1040, 1219, 1370, 1500, 1661
         {"Flayfreak-Darkspear-US (F)", "Ignornt-Illidan-US (F)", "Ignornt-Illidan-US (E)",
          "ßoss-Barthilas-US (F)", "Ignornt-Illidan-US (E)", "Ignornt-Illidan-US (F)"},
         facts("572", "Away"),
         "00:02:22,424",
         "00:12:44,764"},
        {"2024-09-13 15.26.24",
         "托維恩競技場",
         "Away, 109, 1505",
         // lines 1720, 1763, 1916, 1996, 2044, 2150
         {"Unluckohunt-Dalaran-US (F)", "Alexstrasza-Frostmourne-US (F)", "Alexstrasza-Frostmourne-US (E)",
          "Unluckohunt-Dalaran-US (F)", "Fohtwenny-Skullcrusher-US (F)", "Unluckohunt-Dalaran-US (E)"},
         facts("980", "Away"),
         "00:01:44,179",
         "00:11:33,927"},
    });
    // Line 401, its time without the "8" of UTC+8.
    EXPECT_NE(replay.matchLog("2024-09-13 13.31.52").find("13:42:50.605 ARENA_MATCH_END 1,27,1428,1446 \r\n"),
              std::string::npos);
}

TEST(ReplayTest, SkirmishSessionGivesOneWonMatch) {
    // Line 981 names the player (0x511) in Orgrimmar; line 985 enters 2547; line 1007 is a Skirmish;
    // line 1008 is the player's COMBATANT_INFO, team 0, specialization 264; line 13289 ends it with
    // team 0 winning after 226 s; line 13357 (back to Orgrimmar) comes after the end. Deaths: lines
    // 3587, 12815, 13285, all enemies (0x548, 0x10548), two of them with Cyrillic names.
    const Replay replay(combatLogs + "retail-11.0.2beta-skirmish-3v3-full-session.txt");
    replay.expectMatches({{"2024-07-28 14.37.54",
                           "Enigma Crucible",
                           "Home, 226, 0",
                           {"Tanzof-TheseGoToEleven-TR (E)", "Свитер-TheseGoToEleven-TR (E)",
                            "Мрбаблх-TheseGoToEleven-TR (E)"},
                           {{"PlayerName", "Lavablurst-TheseGoToEleven-TR"},
                            {"PlayerTeam", "0"},
                            {"PlayerSpec", "Restoration - Shaman"},
                            {"ArenaType", "Skirmish"},
                            {"WinTeam", "Home"},
                            {"ZoneNumber", "2547"},
                            {"Version", "11.0.2"}},
                           "00:01:41,327",
                           "00:04:45,960"}});
    // Line 13289, its time without the "-4" of UTC-4.
    EXPECT_NE(replay.matchLog("2024-07-28 14.37.54").find("14:42:40.517 ARENA_MATCH_END 0,226,0,0 \r\n"),
              std::string::npos);
}

// The cut logs below get back what a whole session holds before ARENA_MATCH_START: an aura line
// naming the player (the log's first with unit flags 0x511, copied) and the ZONE_CHANGE into the
// arena at the time of the log's first line.

TEST(ReplayTest, TwoVersusTwoWonByThePlayersTeam) {
    // Line 12 names the player; line 3, their COMBATANT_INFO: team 0, 22 numbers, specialization 256.
    // Line 1792: team 0 wins after 41 s. Deaths: only line 1641; lines 51 and 177 end in 1 (not dead).
    const TemporaryFolder folder;
    const std::string name = "retail-11.2-2v2-hunter_priest_match.txt";
    const Replay replay(
        extendedLog(folder, name,
                    logLine(name, 12) + "8/31/2025 01:31:12.8659  ZONE_CHANGE,1552,\"Ashamane's Fall\",0\n"));
    replay.expectMatches({{"2025-08-31 01.31.12",
                           "Ashamane's Fall",
                           "Home, 41, 1780",
                           {"Tophatjack-Tichondrius-US (E)"},
                           {{"PlayerName", "Whitejudas-Tichondrius-US"},
                            {"PlayerTeam", "0"},
                            {"PlayerSpec", "Discipline - Priest"},
                            {"ArenaType", "2v2"},
                            {"WinTeam", "Home"},
                            {"ZoneNumber", "1552"}},
                           "00:00:36,186",
                           "00:00:41,883"}});
}

TEST(ReplayTest, ThreeVersusThreeLostWithTwoFriendsDead) {
    // Line 12 names the player; line 5, their COMBATANT_INFO: team 1, specialization 70. Line 32: team 0
    // wins after 27 s. Deaths: lines 27 (the player, 0x511) and 30 (a team mate, 0x512).
    const TemporaryFolder folder;
    const std::string name = "retail-11.2-3v3-reduced.txt";
    const Replay replay(
        extendedLog(folder, name,
                    logLine(name, 12) + "8/30/2025 21:05:23.7758  ZONE_CHANGE,2373,\"Empyrean Domain\",0\n"));
    replay.expectMatches({{"2025-08-30 21.05.23",
                           "Empyrean Domain",
                           "Away, 27, 1734",
                           {"Bossmoomoo-Tichondrius-US (F)", "Kelite-Tichondrius-US (F)"},
                           {{"PlayerName", "Bossmoomoo-Tichondrius-US"},
                            {"PlayerTeam", "1"},
                            {"PlayerSpec", "Retribution - Paladin"},
                            {"ArenaType", "3v3"},
                            {"WinTeam", "Away"},
                            {"ZoneNumber", "2373"}},
                           "00:00:17,008",
                           "00:00:27,712"}});
}

TEST(ReplayTest, ShuffleRoundInTheTwelveLayoutNamesTheSpecialization) {
    // Line 25 names the player (0x511 as the aura's target); line 4, their COMBATANT_INFO: team 1, 23
    // numbers (the 12.x layout), the last one specialization 72. No ARENA_MATCH_END: the player leaves
    // for a city (2552, as in the 11.0.2 log) at the time of the last line. Deaths: line 2218; line 789
    // ends in 1 (not dead).
    const TemporaryFolder folder;
    const std::string name = "retail-12.x-soloshuffle-round0-reduced.txt";
    const Replay replay(extendedLog(
        folder, name, logLine(name, 25) + "3/31/2026 10:48:20.5012  ZONE_CHANGE,1505,\"Nagrand Arena\",0\n",
        "3/31/2026 10:49:21.3622  ZONE_CHANGE,2552,\"Dornogal\",0\n"));
    replay.expectMatches({{"2026-03-31 10.48.20",
                           "Nagrand Arena",
                           "Zone",
                           {"Shizoune-Blackmoore-EU (E)"},
                           {{"PlayerName", "Gigadwarf-TarrenMill-EU"},
                            {"PlayerTeam", "1"},
                            {"PlayerSpec", "Fury - Warrior"},
                            {"ArenaType", "Rated Solo Shuffle"},
                            {"ZoneNumber", "1505"}},
                           "00:00:25,413",
                           "00:01:00,861"}});
}

TEST(ReplayTest, ToolPrintsOneLinePerMatch) {
    const TemporaryFolder movies;
    auto run = [&movies](const std::string& log, std::string& output) {
        const std::string command =
            std::string("'") + PARLAN_REPLAY_TOOL + "' '" + log + "' '" + movies.path() + "' 2>/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) {
            return -1;
        }
        char buffer[512];
        for (std::size_t count = 0; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, count);
        }
        const int status = ::pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string output;
    EXPECT_EQ(run(combatLogs + "retail-11.0.2-soloshuffle-x4-reloads.txt", output), 0);
    // The four shuffles of that log (see above): stamp, zone, end.
    EXPECT_EQ(output,
              "2024-09-13 13.31.52\t納葛蘭競技場\tAway, 27, 1428\n"
              "2024-09-13 13.58.35\t玄鴉堡競技場\tAway, 23, 1473\n"
              "2024-09-13 14.23.33\t羅德隆廢墟\tAway, 90, 1474\n"
              "2024-09-13 15.26.24\t托維恩競技場\tAway, 109, 1505\n");

    std::string nothing;
    EXPECT_NE(run(movies.file("missing.txt"), nothing), 0);
    EXPECT_EQ(nothing, "");
}

}  // namespace
