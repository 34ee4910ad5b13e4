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
        {"12/13/2024 20:33:09.259", "12/13/2024 20:33:09.259"},  // no offset
    };
    for (const auto& [time, expected] : shapes) {
        const auto head = parser.head(logLine(time, "ZONE_CHANGE", "1234,\"Test Arena\",0"));
        ASSERT_TRUE(head) << time;
        EXPECT_EQ(head->time, expected);
        EXPECT_TRUE(tavrin::dateTimeDot(head->time)) << time;
        EXPECT_EQ(head->event, "ZONE_CHANGE");
        EXPECT_EQ(head->data, "1234,\"Test Arena\",0");
        EXPECT_FALSE(head->ignore);
    }
    const char* rejected[] = {
        "3/7/2025 1:04:07.4251",      // one-digit hour
        "03/07/20251 21:04:07.4251",  // 11-character date
        "2/14 23:24:58.661",          // no year: an older log format
        "3/7/2025 21:04:07.425123",   // three offset digits
        "3/7/2025 21:04:07.42",       // two decimals
        "3/7/2025 21:04:07,4251",     // comma for point
    };
    for (const char* time : rejected) {
        EXPECT_FALSE(parser.head(logLine(time, "MAP_CHANGE", "85,\"Orgrimmar\",0"))) << time;
    }
    EXPECT_FALSE(parser.head("3/7/2025 21:04:07.4251  MAP_CHANGE"));  // no comma after the event
}

TEST_F(LogParserTest, OnlyWantedEventsReachTheMatchLog) {
    EXPECT_FALSE(parser.head(logLine("3/7/2025 21:04:07.4251", "SPELL_DAMAGE", "Player-1,\"A\",0x511,0x0")));
    feed(lines::enterArena);
    feed(logLine("3/7/2025 21:05:00.0001", "SPELL_CAST_SUCCESS", "Player-1,\"A\",0x511,0x0"));
    ASSERT_TRUE(parser.head(logLine("3/7/2025 21:05:00.0001", "MAP_CHANGE", "85,\"Orgrimmar\",0")));
    EXPECT_EQ(readFile(parser.logPath() + "2025-03-07 21.04.07.log"),
              "21:05:00.000 MAP_CHANGE 85,\"Orgrimmar\",0 \r\n");
}

TEST_F(LogParserTest, FrequentEventsLeaveTheActiveSetUntilAMatchEnds) {
    // The version is followed once for the life of the process.
    const auto version = parser.head(lines::version);
    ASSERT_TRUE(version);
    EXPECT_TRUE(version->ignore);
    ASSERT_TRUE(parser.body(*version));
    EXPECT_FALSE(parser.head(lines::version));
    ASSERT_TRUE(feed(lines::playerAura));
    EXPECT_FALSE(parser.head(lines::playerAura));
    ASSERT_TRUE(feed(lines::matchStart));
    EXPECT_FALSE(parser.head(lines::matchStart));
    for (const char* event : {"ZONE_CHANGE", "MAP_CHANGE", "UNIT_DIED", "COMBATANT_INFO"}) {
        EXPECT_TRUE(parser.head(logLine("3/7/2025 21:05:00.0001", event, "x"))) << event;
    }
    feed(lines::enterArena);
    ASSERT_TRUE(feed(lines::matchEnd("1")));
    EXPECT_TRUE(parser.head(lines::playerAura));
    EXPECT_TRUE(parser.head(lines::matchStart));
    EXPECT_FALSE(parser.eventFilter()[1].output);
    EXPECT_FALSE(parser.head(lines::version));
}

TEST_F(LogParserTest, CombatantInfoTakesBothLayouts) {
    EXPECT_FALSE(feed(lines::combatant("Player-1-AB", 1, 65, 21)));
    const auto* item = feed(lines::combatant("Player-1-AB", 1, 65));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(1), "Player-1-AB");
    EXPECT_EQ(item->group(2), "1");
    EXPECT_EQ(item->group(3), ",65");
    EXPECT_EQ(item->group(4), "65");
    item = feed(lines::combatant("Player-1-AB", 1, 257, 23));  // 12.x writes one number more
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(4), "257");
}

TEST_F(LogParserTest, UnitPatterns) {
    const auto* item = feed(lines::playerAura);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(1), "Player-11-0A");
    EXPECT_EQ(item->group(2), "Sól-Mal'Ganis-US");

    feed(lines::enterArena);
    item = feed(lines::death("3/7/2025 21:05:00.0001", "Zul'jin-Realm"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(2), "Zul'jin-Realm");
    // Not a player's death: a quoted name with a blank, unit flags with a hex letter. The last match stays.
    EXPECT_FALSE(feed(lines::death("3/7/2025 21:05:01.0001", "Two Words")));
    EXPECT_FALSE(feed(lines::death("3/7/2025 21:05:01.0001", "Bob-Realm", "0x10a48")));
    EXPECT_EQ(parser.eventFilter()[6].group(2), "Zul'jin-Realm");
    EXPECT_EQ(parser.timeLines().size(), 2U);
    // UNIT_DIED takes the last player unit that fits.
    item = feed(logLine("3/7/2025 21:05:00.0001", "UNIT_DIED",
                        "Player-1-A,\"First-R\",0x511,0x0,Player-1-B,\"Second-R\",0x548,0x0,0"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(1), "Player-1-B");
    EXPECT_EQ(item->group(3), "0x548");
    EXPECT_EQ(item->group(4), "0x0");
    // The zone name runs to the last quote-comma of the data (greedy).
    item = feed(logLine("3/7/2025 21:04:07.4251", "ZONE_CHANGE", "572,\"Ruins \",\" Lordaeron\",0"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(2), "Ruins \",\" Lordaeron");
    // ZONE_CHANGE and MAP_CHANGE share a pattern but not their last match.
    EXPECT_EQ(parser.eventFilter()[4].group(1), "572");
    EXPECT_FALSE(parser.eventFilter()[5].output);
}

}  // namespace
}  // namespace parlan::testing
