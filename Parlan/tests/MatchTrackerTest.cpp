#include <gtest/gtest.h>

#include <filesystem>

#include "EngineFixture.h"

namespace parlan::testing {
namespace {

using MatchTrackerTest = EngineTest;
constexpr const char* stamp = "2025-03-07 21.04.07";

TEST_F(MatchTrackerTest, EnteringAnArenaStartsOneMatchAtTheWallClockTime) {
    const Date now = clock.now();
    const auto* item = feed(lines::enterArena);
    ASSERT_TRUE(item);
    ASSERT_EQ(parser.timeLines().size(), 1U);
    // Stamped with the time the line was processed, not the line's own time.
    EXPECT_EQ(parser.timeLines()[0].date, now);
    EXPECT_EQ(parser.timeLines()[0].event, "Start");
    EXPECT_EQ(parser.timeLines()[0].text, "Cage of Carnage");
    EXPECT_EQ(parser.startDate(), now);
    EXPECT_EQ(parser.zoneType(), "Arena");
    EXPECT_EQ(parser.playData().at("ZoneNumber"), "1552");
    EXPECT_EQ(parser.playData().at("ZoneName"), "Cage of Carnage");
    EXPECT_EQ(parser.playData().at("ZoneType"), "Arena");
    EXPECT_EQ(commandFile(stamp), "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\n");

    // A reload in the arena renames the zone; it starts nothing new.
    clock.advance(std::chrono::seconds(30));
    feed(logLine("3/7/2025 21:04:37.0001", "ZONE_CHANGE", "1552,\"Käfig des Gemetzels\",0"));
    feed(logLine("3/7/2025 21:04:38.0001", "MAP_CHANGE", "1911,\"Ring\",1.0,2.0"));
    ASSERT_EQ(parser.timeLines().size(), 1U);
    EXPECT_EQ(parser.timeLines()[0].text, "Ring");
    EXPECT_EQ(parser.playData().at("ZoneName"), "Ring");
    EXPECT_EQ(commandFile(stamp), "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\n");
}

TEST_F(MatchTrackerTest, LeavingTheArenaEndsTheMatchWithoutPause) {
    feed(lines::leaveArena);  // outside a match: nothing
    EXPECT_FALSE(std::filesystem::exists(parser.logPath()));
    feed(lines::enterArena);
    ASSERT_TRUE(feed(lines::leaveArena));
    EXPECT_FALSE(parser.inMatch());
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_NE(subtitles(stamp).find("End: Zone\r\n"), std::string::npos);
    EXPECT_EQ(commandFile(stamp), "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\nCMD: End\r\n");
    EXPECT_FALSE(parser.zoneType());
    EXPECT_FALSE(parser.startDate());
}

TEST_F(MatchTrackerTest, MatchEndDecidesHomeOrAwayFromThePlayersTeam) {
    feed(lines::playerAura);
    feed(lines::enterArena);
    feed(lines::matchStart);
    feed(lines::combatant("Player-11-0B", 0, 62));  // an opponent: not the player
    EXPECT_FALSE(parser.playData().contains("PlayerTeam"));
    feed(lines::combatant("Player-11-0A", 1, 65));
    EXPECT_EQ(parser.playData().at("PlayerTeam"), "1");
    EXPECT_EQ(parser.playData().at("PlayerSpec"), "Holy - Paladin");
    EXPECT_EQ(parser.playData().at("ArenaType"), "2v2");
    ASSERT_TRUE(feed(lines::matchEnd(1)));
    const std::string text = subtitles(stamp);
    EXPECT_NE(text.find("End: Home, 183, 1523\r\n"), std::string::npos);
    EXPECT_NE(text.find("WinTeam: Home\r\n"), std::string::npos);
    EXPECT_NE(text.find("PlayTime: 183\r\n"), std::string::npos);
    EXPECT_NE(text.find("Score: 1523\r\n"), std::string::npos);
    EXPECT_EQ(clock.sleeps, std::vector<std::chrono::milliseconds>{std::chrono::seconds(1)});

    // Next match (the pause moved the clock on by a second): the player was not named again, so the
    // team is unknown and the result is Away.
    feed(lines::enterArena);
    ASSERT_TRUE(feed(lines::matchEnd(1)));
    EXPECT_NE(subtitles("2025-03-07 21.04.08").find("End: Away, 183, 1523\r\n"), std::string::npos);
}

TEST_F(MatchTrackerTest, ShuffleEndWithoutAWinningTeamStillEndsTheMatch) {
    feed(lines::enterArena);
    ASSERT_TRUE(feed(logLine("9/13/2024 14:07:50.2188", "ARENA_MATCH_END", "255,23,1473,1475")));
    EXPECT_FALSE(parser.inMatch());
    EXPECT_NE(subtitles(stamp).find("End: Away, 23, 1473\r\n"), std::string::npos);
}

TEST_F(MatchTrackerTest, DeathsAreTaggedFriendOrEnemyDuringAMatchOnly) {
    feed(lines::death("3/7/2025 21:04:00.0001", "Early-Realm", "0x548"));
    EXPECT_FALSE(parser.inMatch());
    feed(lines::enterArena);
    feed(lines::death("3/7/2025 21:05:00.0001", "Ann-Realm", "0x511"));
    feed(lines::death("3/7/2025 21:05:01.0001", "Bob-Realm", "0x512"));
    feed(lines::death("3/7/2025 21:05:02.0001", "Cid-Realm", "0x548"));
    feed(lines::death("3/7/2025 21:05:03.0001", "Dee-Realm", "0x51"));  // shorter than three characters
    const auto& entries = parser.timeLines();
    ASSERT_EQ(entries.size(), 5U);
    EXPECT_EQ(entries[1].text, "Ann-Realm (F)");
    EXPECT_EQ(entries[2].text, "Bob-Realm (F)");
    EXPECT_EQ(entries[3].text, "Cid-Realm (E)");
    EXPECT_EQ(entries[4].text, "Dee-Realm (E)");
    // Deaths carry the line's time.
    EXPECT_EQ(entries[1].date, localDate(2025, 3, 7, 21, 5, 0));
}

TEST_F(MatchTrackerTest, UnknownSpecializationRemovesTheEarlierOne) {
    feed(lines::playerAura);
    feed(lines::combatant("Player-11-0A", 0, 65));
    EXPECT_EQ(parser.playData().at("PlayerSpec"), "Holy - Paladin");
    feed(lines::combatant("Player-11-0A", 0, 9999));
    EXPECT_FALSE(parser.playData().contains("PlayerSpec"));
    EXPECT_EQ(parser.playData().at("PlayerTeam"), "0");
}

TEST_F(MatchTrackerTest, SilenceOfMoreThanTwentyMinutesEndsTheMatch) {
    feed(lines::enterArena);
    const Date lastRead = clock.now();
    clock.advance(std::chrono::nanoseconds(1200'000'400'000));  // rounds to 1200.000 s: not more
    parser.onEventIdle(lastRead);
    EXPECT_TRUE(parser.inMatch());
    clock.set(lastRead + std::chrono::nanoseconds(1200'000'600'000));
    parser.onEventIdle(lastRead);
    EXPECT_FALSE(parser.inMatch());
    EXPECT_NE(subtitles(stamp).find("End: Idle\r\n"), std::string::npos);
    EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(MatchTrackerTest, VersionFactsLastAndMatchFactsReset) {
    feed(lines::version);
    EXPECT_EQ(parser.version(), "11.1.0");
    feed(lines::playerAura);  // outside a match: kept for the next one
    feed(lines::matchStart);
    feed(lines::enterArena);
    feed(lines::leaveArena);
    const std::string text = subtitles(stamp);
    for (const char* fact :
         {"BID: com.blizzard.worldofwarcraft", "Title: World of Warcraft", "Version: 11.1.0",
          "Expansion: The War Within", "PlayerName: Sól-Mal'Ganis-US", "ArenaType: 2v2"}) {
        EXPECT_NE(text.find(std::string(fact) + "\r\n"), std::string::npos) << fact;
    }
    std::vector<std::string> keys;
    for (const auto& [key, value] : parser.playData()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"BID", "Expansion", "Title", "Version"}));
}

}  // namespace
}  // namespace parlan::testing
