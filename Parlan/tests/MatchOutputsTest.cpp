// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "EngineFixture.h"
#include "common/MatchRecord.h"
#include "engine/CommandFile.h"

namespace parlan::testing {
namespace {

using MatchOutputsTest = EngineTest;

TEST(SubtitleTime, FormatsSecondsAsValidSubRip) {
    const std::pair<double, const char*> stamps[] = {
        {3725.25, "01:02:05,250"},
        {59.9996, "00:01:00,000"},  // milliseconds that round up to a whole second carry
        {3599.9999, "01:00:00,000"},
        {-1.5, "00:00:00,000"},  // before the start reads as the start
        {std::nan(""), "00:00:00,000"},
    };
    for (const auto& [seconds, text] : stamps) {
        EXPECT_EQ(LogEvent::fixedFormatTimeDetailComma(seconds), text) << seconds;
    }
}

TEST_F(MatchOutputsTest, SubtitleFileHoldsTimelineThenFactCues) {
    feed(lines::enterArena);
    // After a reload the game writes buffered lines older than the zone change: they sit at the start.
    feed(lines::death("3/7/2025 21:03:50.0001", "Early-Realm"));
    feed(lines::matchStart);
    feed(lines::death("3/7/2025 21:05:22.5001", "Someone-Realm"));  // 75.5 s after the start
    feed(lines::matchEnd("0"));                                     // 183.2 s
    const std::string expected =
        "1\r\n00:00:00,000 --> 00:00:02,000\r\nStart: Cage of Carnage\r\n\r\n"
        "2\r\n00:00:00,000 --> 00:00:00,000\r\nDeath: Early-Realm (E)\r\n\r\n"
        "3\r\n00:01:15,500 --> 00:01:17,500\r\nDeath: Someone-Realm (E)\r\n\r\n"
        "4\r\n00:03:03,200 --> 00:03:05,200\r\nEnd: Away, 183, 1523\r\n\r\n"
        "5\r\n00:03:03,200 --> 00:03:03,200\r\nArenaType: 2v2\r\n\r\n"
        "6\r\n00:03:03,200 --> 00:03:03,200\r\nPlayTime: 183\r\n\r\n"
        "7\r\n00:03:03,200 --> 00:03:03,200\r\nScore: 1523\r\n\r\n"
        "8\r\n00:03:03,200 --> 00:03:03,200\r\nWinTeam: Away\r\n\r\n"
        "9\r\n00:03:03,200 --> 00:03:03,200\r\nZoneName: Cage of Carnage\r\n\r\n"
        "10\r\n00:03:03,200 --> 00:03:03,200\r\nZoneNumber: 1552\r\n\r\n"
        "11\r\n00:03:03,200 --> 00:03:03,200\r\nZoneType: Arena\r\n\r\n";
    EXPECT_EQ(subtitles(), expected);
}

// A shuffle's rounds: each start and end among the timeline's cues, a round without a death a draw, and
// a death of a player without COMBATANT_INFO on the side its unit flags give.
TEST_F(MatchOutputsTest, ShuffleRoundsGoToTheSubtitlesAndTheRecord) {
    const auto start = [](const char* time) {
        return logLine(std::string("3/7/2025 ") + time, "ARENA_MATCH_START", "1552,40,Rated Solo Shuffle,0");
    };
    for (const std::string& line :
         {lines::enterArena, start("21:04:30.0001"), lines::playerAura,
          lines::combatant("Player-11-0A", 1, 65), lines::combatant("Player-11-0B", 0, 62),
          lines::death("3/7/2025 21:05:00.0001", "Bee-Realm"), start("21:05:30.0001"),
          lines::combatant("Player-11-0A", 0, 65), start("21:06:30.0001"),
          lines::combatant("Player-11-0A", 0, 65),
          logLine("3/7/2025 21:07:00.0001", "UNIT_DIED",
                  "0000000000000000,nil,0x80000000,0x80000000,Player-11-0C,\"Cee-Realm\",0x512,0x0,0"),
          lines::matchEnd("1")}) {
        feed(line);
    }
    const std::string text = subtitles();
    EXPECT_EQ(text.substr(0, text.find("ArenaType")),
              "1\r\n00:00:00,000 --> 00:00:02,000\r\nStart: Cage of Carnage\r\n\r\n"
              "2\r\n00:00:23,000 --> 00:00:25,000\r\nRound 1\r\n\r\n"
              "3\r\n00:00:53,000 --> 00:00:55,000\r\nDeath: Bee-Realm (E)\r\n\r\n"
              "4\r\n00:00:53,000 --> 00:00:55,000\r\nRound 1: won\r\n\r\n"
              "5\r\n00:01:23,000 --> 00:01:25,000\r\nRound 2\r\n\r\n"
              "6\r\n00:02:23,000 --> 00:02:25,000\r\nRound 2: draw\r\n\r\n"
              "7\r\n00:02:23,000 --> 00:02:25,000\r\nRound 3\r\n\r\n"
              "8\r\n00:02:53,000 --> 00:02:55,000\r\nDeath: Cee-Realm (F)\r\n\r\n"
              "9\r\n00:02:53,000 --> 00:02:55,000\r\nRound 3: lost\r\n\r\n"
              "10\r\n00:03:03,200 --> 00:03:05,200\r\nEnd: Away, 183, 1523\r\n\r\n"
              "11\r\n00:03:03,200 --> 00:03:03,200\r\n");
    const auto record = tavrin::readMatchRecord(readFile(parser.subPath() + "2025-03-07 21.04.07.json"));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->start, "2025-03-07T21:04:07.000+01:00");
    ASSERT_EQ(record->rounds.size(), 3u);
    EXPECT_EQ(record->rounds[1].result, "draw");
    EXPECT_EQ(record->rounds[1].end, 143.0);  // the next round's start
    EXPECT_EQ(record->rounds[2].winner, 1);   // Cee, a friend, was on the player's team 0
    EXPECT_EQ(record->deaths[1].team, 0);
    EXPECT_EQ(record->combatants[0].teams, (std::vector<std::optional<int>>{1, 0, 0}));
    EXPECT_EQ(record->combatants[1].teams, (std::vector<std::optional<int>>{0, std::nullopt, std::nullopt}));
    EXPECT_EQ(record->result->roundsDrawn, 1);
    EXPECT_EQ(record->result->roundsWon, 1);
}

// At the end-of-match pause the subtitles must be on disk for the recorder, and the End not yet written.
class PauseWatchingClock final : public tavrin::Clock {
public:
    Date now() const override { return localDate(2025, 3, 7, 21, 4, 7); }
    void sleepFor(std::chrono::milliseconds span) override { onSleep(span); }
    std::function<void(std::chrono::milliseconds)> onSleep;
};

TEST(MatchOutputsPause, EndCommandFollowsTheWrittenSubtitlesAfterOneSecond) {
    TemporaryFolder movies;
    PauseWatchingClock clock;
    LogParser parser(movies.path(), clock);
    const std::string stamp = "2025-03-07 21.04.07";
    int pauses = 0;
    clock.onSleep = [&](std::chrono::milliseconds) {
        ++pauses;
        EXPECT_NE(readFile(parser.subPath() + stamp + ".srt").find("End: Away"), std::string::npos);
        EXPECT_EQ(readFile(parser.logPath() + stamp + ".cmd").find("CMD: End"), std::string::npos);
        EXPECT_TRUE(tavrin::readMatchRecord(readFile(parser.subPath() + stamp + ".json")));
    };
    for (const auto& line : {lines::enterArena, lines::matchEnd("1")}) {
        parser.body(*parser.head(line));
    }
    EXPECT_EQ(pauses, 1);
    EXPECT_NE(readFile(parser.logPath() + stamp + ".cmd").find("CMD: End\r\n"), std::string::npos);
}

TEST_F(MatchOutputsTest, MatchStaysOpenUntilItsEndIsWrittenIntoFoldersMadeAgain) {
    feed(lines::enterArena);
    // A folder where the subtitle file should go makes it impossible to open: no End yet.
    const std::string blocker = parser.subPath() + "2025-03-07 21.04.07.srt";
    std::filesystem::create_directories(blocker);
    feed(lines::matchEnd("1"));
    EXPECT_TRUE(parser.inMatch());
    EXPECT_EQ(commandFile(), "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\n");
    std::filesystem::remove(blocker);
    // The command folder removed during the match is made again for the End, which the recorder
    // waits for. Ended by silence: no line copied to the match log makes the folder first.
    std::filesystem::remove_all(parser.logPath());
    const Date lastRead = clock.now();
    clock.advance(std::chrono::seconds(1201));
    parser.onEventIdle(lastRead);
    EXPECT_FALSE(parser.inMatch());
    EXPECT_EQ(commandFile(), "CMD: End\r\n");
    EXPECT_NE(subtitles().find("End: Away, 183, 1523\r\n"), std::string::npos);  // the result is kept
    EXPECT_NE(subtitles().find("End: Idle\r\n"), std::string::npos);
    EXPECT_EQ(tavrin::readMatchRecord(readFile(parser.subPath() + "2025-03-07 21.04.07.json"))->ending,
              "idle");
}

// A folder chosen during a match takes the next match's files; the match in progress ends where it began.
// A chosen folder that is missing (its drive not mounted) is not made, and no match file goes anywhere.
TEST_F(MatchOutputsTest, NextMatchFollowsAChangedMoviesFolder) {
    std::optional<std::string> chosen;
    parser.followMoviesFolder([&] { return chosen; });
    feed(lines::enterArena);
    chosen = movies.file("chosen");
    feed(lines::matchEnd("1"));
    EXPECT_EQ(commandFile(), std::string(command::startText) + std::string(command::endText));
    EXPECT_NE(subtitles().find("\r\nEnd: "), std::string::npos);
    const auto files = [&] {
        const std::filesystem::recursive_directory_iterator all(movies.path());
        return std::distance(begin(all), end(all));
    };
    const auto before = files();
    feed(logLine("3/7/2025 21:10:00.0001", "ZONE_CHANGE", "1552,\"Cage of Carnage\",0"));
    feed(lines::matchEnd("1"));
    EXPECT_FALSE(parser.inMatch());
    EXPECT_EQ(files(), before);
    std::filesystem::create_directory(*chosen);
    feed(logLine("3/7/2025 21:20:00.0001", "ZONE_CHANGE", "1552,\"Cage of Carnage\",0"));
    EXPECT_EQ(parser.logPath(), movies.file("chosen/.logs/"));
    EXPECT_EQ(commandFile(parser.stamp()), command::startText);
}

}  // namespace
}  // namespace parlan::testing
