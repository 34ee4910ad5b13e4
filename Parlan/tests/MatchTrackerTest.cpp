#include <gtest/gtest.h>

#include <filesystem>

#include "EngineFixture.h"

namespace parlan::testing {
namespace {

using MatchTrackerTest = EngineTest;
constexpr const char* startOnly = "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\n";

bool has(const std::string& text, const std::string& line) {
    return text.find(line + "\r\n") != std::string::npos;
}

TEST_F(MatchTrackerTest, EnteringAnArenaStartsOneMatchAtTheWallClockTime) {
    feed(lines::leaveArena);  // outside a match: nothing
    EXPECT_FALSE(std::filesystem::exists(parser.logPath()));
    const Date now = clock.now();
    ASSERT_TRUE(feed(lines::enterArena));
    ASSERT_EQ(parser.timeLines().size(), 1U);
    // Stamped with the time the line was processed, not the line's own time.
    EXPECT_EQ(parser.timeLines()[0].date, now);
    EXPECT_EQ(parser.timeLines()[0].event, "Start");
    EXPECT_EQ(parser.startDate(), now);
    EXPECT_EQ(parser.zoneType(), "Arena");
    EXPECT_EQ(parser.playData().at("ZoneNumber"), "1552");
    EXPECT_EQ(parser.playData().at("ZoneType"), "Arena");
    EXPECT_EQ(commandFile(), startOnly);

    // A reload in the arena renames the zone; it starts nothing new.
    clock.advance(std::chrono::seconds(30));
    feed(logLine("3/7/2025 21:04:37.0001", "ZONE_CHANGE", "1552,\"Käfig des Gemetzels\",0"));
    EXPECT_EQ(parser.timeLines()[0].text, "Käfig des Gemetzels");
    feed(logLine("3/7/2025 21:04:38.0001", "MAP_CHANGE", "1911,\"Ring\",1.0,2.0"));
    ASSERT_EQ(parser.timeLines().size(), 1U);
    EXPECT_EQ(parser.timeLines()[0].text, "Ring");
    EXPECT_EQ(parser.playData().at("ZoneName"), "Ring");
    EXPECT_EQ(commandFile(), startOnly);

    // Leaving the arena ends the match without the pause.
    ASSERT_TRUE(feed(lines::leaveArena));
    EXPECT_FALSE(parser.inMatch());
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_TRUE(has(subtitles(), "End: Zone"));
    EXPECT_EQ(commandFile(), std::string(startOnly) + "CMD: End\r\n");
    EXPECT_FALSE(parser.zoneType());
    EXPECT_FALSE(parser.startDate());
}

TEST_F(MatchTrackerTest, MatchEndDecidesHomeOrAwayFromThePlayersTeam) {
    feed(lines::version);
    feed(lines::playerAura);  // outside a match: kept for the next one
    feed(lines::enterArena);
    feed(lines::matchStart);
    feed(lines::combatant("Player-11-0B", 0, 62));  // an opponent: not the player
    EXPECT_FALSE(parser.playData().contains("PlayerTeam"));
    feed(lines::combatant("Player-11-0A", 1, 65));
    EXPECT_EQ(parser.playData().at("PlayerTeam"), "1");
    ASSERT_TRUE(feed(lines::matchEnd("1")));
    const std::string text = subtitles();
    for (const char* fact : {"End: Home, 183, 1523", "WinTeam: Home", "PlayTime: 183", "Score: 1523",
                             "BID: com.blizzard.worldofwarcraft", "Title: World of Warcraft",
                             "Version: 11.1.0", "Expansion: The War Within", "PlayerName: Sól-Mal'Ganis-US",
                             "ArenaType: 2v2", "PlayerSpec: Holy - Paladin"}) {
        EXPECT_TRUE(has(text, fact)) << fact;
    }
    EXPECT_EQ(clock.sleeps, std::vector<std::chrono::milliseconds>{std::chrono::seconds(1)});
    // The version's facts last; the match's are reset.
    std::vector<std::string> keys;
    for (const auto& [key, value] : parser.playData()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"BID", "Expansion", "Title", "Version"}));

    // Next match (the pause moved the clock on by a second): the player was not named again, so the
    // team is unknown and the result is Away.
    feed(lines::enterArena);
    ASSERT_TRUE(feed(lines::matchEnd("1")));
    EXPECT_TRUE(has(subtitles("2025-03-07 21.04.08"), "End: Away, 183, 1523"));
}

TEST_F(MatchTrackerTest, DeathsAreTaggedFriendOrEnemyDuringAMatchOnly) {
    feed(lines::death("3/7/2025 21:04:00.0001", "Early-Realm"));
    EXPECT_FALSE(parser.inMatch());
    feed(lines::enterArena);
    const std::pair<const char*, const char*> deaths[] = {
        {"0x511", "Ann-Realm (F)"},
        {"0x512", "Ann-Realm (F)"},
        {"0x548", "Ann-Realm (E)"},
        {"0x51", "Ann-Realm (E)"},  // shorter than three characters
    };
    for (const auto& [flags, text] : deaths) {
        feed(lines::death("3/7/2025 21:05:00.0001", "Ann-Realm", flags));
        EXPECT_EQ(parser.timeLines().back().text, text) << flags;
    }
    ASSERT_EQ(parser.timeLines().size(), 5U);
    // Deaths carry the line's time.
    EXPECT_EQ(parser.timeLines()[1].date, localDate(2025, 3, 7, 21, 5, 0));
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
    EXPECT_TRUE(has(subtitles(), "End: Idle"));
    EXPECT_TRUE(clock.sleeps.empty());
}

TEST(WowGame, IdentifiersAreStrictIntegers) {
    const auto& game = WowGame::shared();
    EXPECT_EQ(game.getInstanceType(2563), "Arena");
    EXPECT_FALSE(game.getInstanceType(2552));  // Dornogal
    for (const char* text : {"65", "+65", "065"}) {
        EXPECT_EQ(game.getSpecialization(text), "Holy - Paladin") << text;
    }
    EXPECT_EQ(game.getSpecialization("0"), "");
    for (const char* text : {"65 ", "", "abc", "999", "99999999999999999999"}) {
        EXPECT_FALSE(game.getSpecialization(text)) << '"' << text << '"';
    }
    EXPECT_EQ(game.getExpansion("12"), "Unknown");
    for (const char* text : {"0", "17", "-1"}) {
        EXPECT_FALSE(game.getExpansion(text)) << text;
    }
}

}  // namespace
}  // namespace parlan::testing
