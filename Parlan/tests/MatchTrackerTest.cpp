// SPDX-License-Identifier: GPL-3.0-or-later
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
    // Stamped with the time the line was processed, not the line's own time.
    EXPECT_EQ(parser.timeLines().at(0).date, now);
    EXPECT_EQ(commandFile(), startOnly);

    // A reload in the arena (or a new map) renames the zone; it starts nothing new.
    clock.advance(std::chrono::seconds(30));
    feed(logLine("3/7/2025 21:04:38.0001", "MAP_CHANGE", "1911,\"Ring\",1.0,2.0"));
    EXPECT_EQ(parser.timeLines()[0].text, "Ring");
    EXPECT_EQ(commandFile(), startOnly);

    // Leaving the arena ends the match without the pause.
    ASSERT_TRUE(feed(lines::leaveArena));
    EXPECT_FALSE(parser.inMatch());
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_TRUE(has(subtitles(), "End: Zone"));
    EXPECT_EQ(commandFile(), std::string(startOnly) + "CMD: End\r\n");

    // Another match in the same second (a catch-up pass) gets files of its own, in the next free second.
    clock.set(now);
    ASSERT_TRUE(feed(lines::enterArena));
    EXPECT_EQ(commandFile("2025-03-07 21.04.08"), startOnly);
}

TEST_F(MatchTrackerTest, MatchEndDecidesHomeOrAwayFromThePlayersTeam) {
    feed(lines::version);
    feed(lines::playerAura);  // outside a match: kept for the next one
    feed(lines::enterArena);
    feed(lines::matchStart);
    feed(lines::combatant("Player-11-0B", 0, 62));  // an opponent: not the player
    EXPECT_FALSE(parser.playData().contains("PlayerTeam"));
    feed(lines::combatant("Player-11-0A", 1, 65));
    ASSERT_TRUE(feed(lines::matchEnd("1")));
    const std::string text = subtitles();
    for (const char* fact :
         {"End: Home, 183, 1523", "WinTeam: Home", "Version: 11.1.0", "Expansion: The War Within",
          "PlayerName: Sól-Mal'Ganis-US", "PlayerTeam: 1", "ArenaType: 2v2", "PlayerSpec: Holy - Paladin"}) {
        EXPECT_TRUE(has(text, fact)) << fact;
    }
    EXPECT_EQ(clock.sleeps, std::vector<std::chrono::milliseconds>{std::chrono::seconds(1)});

    // Next match (the pause moved the clock on by a second): the player was not named again, so the
    // team is unknown and the result is Away; the version's facts last.
    feed(lines::enterArena);
    ASSERT_TRUE(feed(lines::matchEnd("1")));
    const std::string next = subtitles("2025-03-07 21.04.08");
    EXPECT_TRUE(has(next, "End: Away, 183, 1523"));
    EXPECT_TRUE(has(next, "Version: 11.1.0"));
    EXPECT_FALSE(has(next, "PlayerName: Sól-Mal'Ganis-US"));
}

// A version beyond the expansion table (or below it) names none rather than reading past it.
TEST(WowGame, ExpansionOutsideTheTableIsNone) {
    EXPECT_EQ(WowGame::shared().getExpansion("16"), "Unknown");
    for (const char* text : {"0", "17", "-1"}) {
        EXPECT_FALSE(WowGame::shared().getExpansion(text)) << text;
    }
}

}  // namespace
}  // namespace parlan::testing
