#include <gtest/gtest.h>

#include <filesystem>

#include "EngineFixture.h"
#include "engine/LogParser.h"

namespace parlan::testing {
namespace {

using LogParserTest = EngineTest;

TEST_F(LogParserTest, HeadSplitsTimeEventAndData) {
    const auto head = parser.head(logLine("3/7/2025 21:04:07.4251", "ZONE_CHANGE", "1234,\"Test Arena\",0"));
    ASSERT_TRUE(head);
    EXPECT_EQ(head->time, "3/7/2025 21:04:07.425");
    EXPECT_EQ(head->event, "ZONE_CHANGE");
    EXPECT_EQ(head->data, "1234,\"Test Arena\",0");
    EXPECT_FALSE(head->ignore);

    const auto match = parser.eventFilter()[4].regex().search(head->data);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->group(1), "1234");
    EXPECT_EQ(match->group(2), "Test Arena");
}

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
        const auto head = parser.head(logLine(time, "MAP_CHANGE", "85,\"Orgrimmar\",0"));
        ASSERT_TRUE(head) << time;
        EXPECT_EQ(head->time, expected);
        EXPECT_TRUE(tavrin::dateTimeDot(head->time)) << time;
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

TEST_F(LogParserTest, UnwantedEventsGiveNoHeadAndNoMatchLogLine) {
    EXPECT_FALSE(parser.head(logLine("3/7/2025 21:04:07.4251", "SPELL_DAMAGE", "Player-1,\"A\",0x511,0x0")));
    feed(lines::enterArena);
    ASSERT_TRUE(parser.inMatch());
    feed(logLine("3/7/2025 21:05:00.0001", "SPELL_CAST_SUCCESS", "Player-1,\"A\",0x511,0x0"));
    const auto head = parser.head(logLine("3/7/2025 21:05:00.0001", "MAP_CHANGE", "85,\"Orgrimmar\",0"));
    ASSERT_TRUE(head);
    // Only the wanted line reached the match log, as "HH:mm:ss.SSS EVENT data \r\n".
    EXPECT_EQ(matchLog("2025-03-07 21.04.07"), "21:05:00.000 MAP_CHANGE 85,\"Orgrimmar\",0 \r\n");
}

TEST_F(LogParserTest, VersionIsFollowedOnceForTheLifeOfTheProcess) {
    const auto head = parser.head(lines::version);
    ASSERT_TRUE(head);
    EXPECT_TRUE(head->ignore);
    ASSERT_TRUE(parser.body(*head));
    EXPECT_FALSE(parser.head(lines::version));
    // A match that ends makes every other event wanted again, never the version.
    feed(lines::enterArena);
    feed(lines::leaveArena);
    EXPECT_FALSE(parser.inMatch());
    EXPECT_FALSE(parser.head(lines::version));
    EXPECT_TRUE(parser.head(lines::playerAura));
}

TEST_F(LogParserTest, FrequentEventsLeaveTheActiveSetUntilAMatchEnds) {
    ASSERT_TRUE(feed(lines::playerAura));
    EXPECT_FALSE(parser.head(lines::playerAura));
    ASSERT_TRUE(feed(lines::matchStart));
    EXPECT_FALSE(parser.head(lines::matchStart));
    // Always wanted, whatever has matched.
    for (const char* event : {"ZONE_CHANGE", "MAP_CHANGE", "UNIT_DIED", "COMBATANT_INFO"}) {
        EXPECT_TRUE(parser.head(logLine("3/7/2025 21:05:00.0001", event, "x"))) << event;
    }
    feed(lines::enterArena);
    ASSERT_TRUE(feed(lines::matchEnd(1)));
    EXPECT_TRUE(parser.head(lines::playerAura));
    EXPECT_TRUE(parser.head(lines::matchStart));
    EXPECT_FALSE(parser.eventFilter()[1].output);
}

TEST_F(LogParserTest, DataThatDoesNotFitLeavesTheLastMatch) {
    feed(lines::enterArena);
    ASSERT_TRUE(feed(lines::death("3/7/2025 21:05:00.0001", "Ann-Realm", "0x548")));
    const auto before = parser.eventFilter()[6].output;
    // Unit flags with a hex letter do not fit "0x" and decimal digits.
    EXPECT_FALSE(feed(lines::death("3/7/2025 21:05:01.0001", "Bob-Realm", "0x10a48")));
    EXPECT_EQ(parser.eventFilter()[6].output, before);
    EXPECT_EQ(parser.timeLines().size(), 2U);
}

TEST_F(LogParserTest, CombatantInfoTakesBothLayouts) {
    const auto info = [](int count, const std::string& last) {
        std::string data = "Player-1-AB,1";
        for (int i = 1; i < count; ++i) {
            data += "," + std::to_string(i % 3 == 0 ? -230 : i);
        }
        return logLine("3/7/2025 21:04:30.0001", "COMBATANT_INFO", data + "," + last + ",[(1,2,3)]");
    };
    EXPECT_FALSE(feed(info(21, "65")));
    const auto* item = feed(info(22, "65"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(1), "Player-1-AB");
    EXPECT_EQ(item->group(2), "1");
    EXPECT_EQ(item->group(3), ",65");
    EXPECT_EQ(item->group(4), "65");
    item = feed(info(23, "257"));  // 12.x writes one number more
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(4), "257");
}

TEST_F(LogParserTest, UnitNamesOfEveryScriptAndRealmsWithApostrophes) {
    const auto* item = feed(lines::playerAura);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(1), "Player-11-0A");
    EXPECT_EQ(item->group(2), "Sól-Mal'Ganis-US");
    // Names in any script are word characters.
    const auto korean = parser.eventFilter()[1].regex().search(
        "Player-3-1,\"몽크-Azshara-US\",0x511,0x0,Player-3-1,\"몽크-Azshara-US\",0x511,0x0,1,\"x\",1,BUFF");
    ASSERT_TRUE(korean);
    EXPECT_EQ(korean->group(2), "몽크-Azshara-US");

    feed(lines::enterArena);
    item = feed(lines::death("3/7/2025 21:05:00.0001", "Zul'jin-Realm", "0x548"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(2), "Zul'jin-Realm");
    // A quoted name with a blank is not a player's.
    EXPECT_FALSE(feed(lines::death("3/7/2025 21:05:01.0001", "Two Words", "0x548")));
}

TEST_F(LogParserTest, PatternsFollowTheirConventions) {
    // The zone name runs to the last quote-comma of the data (greedy).
    const auto* item =
        feed(logLine("3/7/2025 21:04:07.4251", "ZONE_CHANGE", "572,\"Ruins \",\" Lordaeron\",0"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(2), "Ruins \",\" Lordaeron");
    // UNIT_DIED takes the last player unit that fits.
    item = feed(logLine("3/7/2025 21:05:00.0001", "UNIT_DIED",
                        "Player-1-A,\"First-R\",0x511,0x0,Player-1-B,\"Second-R\",0x548,0x0,0"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->group(1), "Player-1-B");
    EXPECT_EQ(item->group(3), "0x548");
    EXPECT_EQ(item->group(4), "0x0");
    // ZONE_CHANGE and MAP_CHANGE share a pattern but not their last match.
    EXPECT_EQ(parser.eventFilter()[4].group(1), "572");
    EXPECT_FALSE(parser.eventFilter()[5].output);
}

TEST_F(LogParserTest, RecordFoldersAndRegistry) {
    EXPECT_EQ(parser.subPath(), movies.path() + "/TavrinMovies/");
    EXPECT_EQ(parser.logPath(), parser.subPath() + ".logs/");
    const auto& events = LogEvent::registedEvents();
    ASSERT_EQ(events.size(), 8U);
    for (const auto& event : events) {
        EXPECT_TRUE(event.regex.isValid()) << event.name;
    }
}

}  // namespace
}  // namespace parlan::testing
