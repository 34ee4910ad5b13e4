#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "log/Stamp.h"

namespace fakegame {
namespace {

using parlan::testing::localDate;

TEST(FakeGameStampTest, ReadsTheShapesTheGameHasWritten) {
    const auto positive = parseStamp("9/13/2024 13:31:52.3078  COMBAT_LOG_VERSION,21");
    ASSERT_TRUE(positive);
    EXPECT_EQ(positive->shape, (StampShape{true, true}));
    EXPECT_EQ(positive->offset, "8");
    EXPECT_EQ(positive->millisecond, 307);
    EXPECT_EQ(positive->length, 23U);

    const auto negative = parseStamp("7/28/2024 14:36:49.528-4  ZONE_CHANGE,1");
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->offset, "-4");
    EXPECT_EQ(negative->year, 2024);
    EXPECT_EQ(negative->length, 24U);

    const auto yearless = parseStamp("2/14 23:24:58.661  ZONE_CHANGE,562");
    ASSERT_TRUE(yearless);
    EXPECT_EQ(yearless->shape, (StampShape{false, false}));
    EXPECT_EQ(yearless->hour, 23);
    EXPECT_EQ(yearless->length, 17U);

    for (const char* other :
         {"", "hello", "9/13/2024 13:31:52  X", "9/13/2024 13:31:52.307X", "13/2024 1:31:52.307  X"}) {
        EXPECT_FALSE(parseStamp(other)) << other;
    }
}

TEST(FakeGameStampTest, WritesLocalTimeWithTheMachinesOffset) {
    // Berlin: one hour ahead of UTC in winter, two in summer.
    const Date winter = localDate(2025, 3, 7, 21, 4, 7, 425);
    EXPECT_EQ(formatStamp(winter, {true, true}), "3/7/2025 21:04:07.4251");
    EXPECT_EQ(formatStamp(localDate(2025, 7, 28, 9, 5, 0, 3), {true, true}), "7/28/2025 09:05:00.0032");
    EXPECT_EQ(formatStamp(winter, {true, false}), "3/7/2025 21:04:07.425");
    EXPECT_EQ(formatStamp(winter, {false, false}), "3/7 21:04:07.425");
    EXPECT_EQ(utcOffsetText(winter), "1");
    EXPECT_EQ(logFileName(winter), "WoWCombatLog-030725_210407.txt");

    // What the proxy reads back: its head pattern takes the stamp, and the time is the same instant.
    const std::string line = formatStamp(winter, {true, true}) + "  ZONE_CHANGE,572,\"Ruins of Lordaeron\",0";
    ASSERT_TRUE(parlan::LogParser::headPattern().search(line));
    EXPECT_EQ(tavrin::dateTimeDot("3/7/2025 21:04:07.425"), winter);
    const auto back = parseStamp(line);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->length, 22U);
}

}  // namespace
}  // namespace fakegame
