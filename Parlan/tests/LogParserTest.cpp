// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "common/DateTime.h"

namespace parlan::testing {
namespace {

using LogParserTest = EngineTest;

TEST_F(LogParserTest, HeadTakesEveryUtcOffsetTheGameWrites) {
    // The digits after the milliseconds are the player's UTC offset, not more decimals.
    const std::pair<const char*, const char*> shapes[] = {
        {"7/28/2024 14:36:49.528-4", "7/28/2024 14:36:49.528"},  // west of UTC
        {"9/13/2024 13:31:52.3078", "9/13/2024 13:31:52.307"},   // UTC+8
        {"3/7/2025 21:04:07.42512", "3/7/2025 21:04:07.425"},    // UTC+12
        {"3/7/2025 21:04:07.425-11", "3/7/2025 21:04:07.425"},   // UTC-11
        {"12/13/2024 20:33:09.259", "12/13/2024 20:33:09.259"},  // UTC
    };
    for (const auto& [time, expected] : shapes) {
        const auto head = parser.head(logLine(time, "ZONE_CHANGE", "1234,\"Test Arena\",0"));
        ASSERT_TRUE(head) << time;
        EXPECT_EQ(head->time, expected);
        EXPECT_TRUE(tavrin::dateTimeDot(head->time)) << time;
    }
    // No year (an older log format); three digits are no UTC offset.
    for (const char* time : {"2/14 23:24:58.661", "3/7/2025 21:04:07.425123"}) {
        EXPECT_FALSE(parser.head(logLine(time, "MAP_CHANGE", "85,\"Orgrimmar\",0"))) << time;
    }
}

TEST_F(LogParserTest, WantedLinesOfAMatchAreCopiedAndItsPlayerAndTypeSoughtAgainAfterIt) {
    ASSERT_TRUE(feed(lines::playerAura));
    EXPECT_FALSE(parser.head(lines::playerAura));
    feed(lines::enterArena);
    ASSERT_TRUE(feed(lines::matchStart));
    EXPECT_FALSE(parser.head(lines::matchStart));
    feed(logLine("3/7/2025 21:05:00.0001", "SPELL_CAST_SUCCESS", "Player-1,\"A\",0x511,0x0"));
    ASSERT_TRUE(feed(lines::matchEnd("1")));
    // Their time without the UTC offset.
    EXPECT_EQ(readFile(parser.logPath() + "2025-03-07 21.04.07.log"),
              "21:04:30.000 ARENA_MATCH_START 1552,40,2v2,1 \r\n"
              "21:07:10.200 ARENA_MATCH_END 1,183,1523,1490 \r\n");
    EXPECT_TRUE(parser.head(lines::playerAura));
    EXPECT_TRUE(parser.head(lines::matchStart));
}

TEST_F(LogParserTest, CombatantInfoTakesBothLayouts) {
    EXPECT_FALSE(feed(lines::combatant("Player-1-AB", 1, 65, 21)));
    for (const int count : {22, 23}) {  // 12.x writes one number more
        const auto* item = feed(lines::combatant("Player-1-AB", 1, 65, count));
        ASSERT_TRUE(item) << count;
        EXPECT_EQ(item->group(4), "65");
    }
}

TEST_F(LogParserTest, UnitNamesMayHoldApostrophes) {
    const auto* item = feed(lines::playerAura);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(1), "Player-11-0A");
    EXPECT_EQ(item->group(2), "Sól-Mal'Ganis-US");

    feed(lines::enterArena);
    item = feed(lines::death("3/7/2025 21:05:00.0001", "Zul'jin-Realm"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(2), "Zul'jin-Realm");
}

}  // namespace
}  // namespace parlan::testing
