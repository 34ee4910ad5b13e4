#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "EngineFixture.h"
#include "FakeGameTesting.h"
#include "log/LogReplay.h"

namespace fakegame {
namespace {

using namespace testing;

constexpr int standInYear = 2000;

struct Sample {
    const char* file;
    StampShape shape;
};

TEST(FakeGameReplayTest, ReplayedLinesKeepShapeTextAndSpacingAndEndNow) {
    constexpr double speed = 4.0;
    for (const Sample& sample : {Sample{"retail-11.0.2-soloshuffle-x4-reloads.txt", {true, true}},
                                 Sample{"retail-11.0.2beta-skirmish-3v3-full-session.txt", {true, true}},
                                 Sample{"classic-3.4.1-wotlk-2arenas.txt", {false, false}}}) {
        SCOPED_TRACE(sample.file);
        const std::string original = readFile(std::string(TAVRIN_SHARED_DIR) + "/combatlogs/" + sample.file);
        TemporaryFolder logs;
        ManualClock clock(parlan::testing::localDate(2025, 3, 7, 21, 4, 7));
        ReplaySource source(original);
        const auto files = runSession(
            source, intoFolder(logs.path(), [](SessionSettings& settings) { settings.speed = speed; }),
            clock);
        ASSERT_EQ(files.size(), 1U);
        EXPECT_EQ(files[0], logs.path() + "/WoWCombatLog-030725_210407.txt");

        const auto before = splitLines(original);
        const auto after = splitLines(readFile(files[0]));
        ASSERT_GT(before.size(), 1000U);
        ASSERT_EQ(after.size(), before.size());
        const std::string offset = utcOffsetText(clock.now());
        std::int64_t latestWall = 0;
        std::int64_t mostSpacingError = 0;
        std::optional<Stamp> firstBefore;
        std::optional<Stamp> firstAfter;
        for (std::size_t i = 0; i < before.size(); ++i) {
            const auto was = parseStamp(before[i]);
            const auto is = parseStamp(after[i]);
            ASSERT_TRUE(was && is) << i;
            ASSERT_EQ(is->shape, sample.shape) << after[i];
            ASSERT_EQ(is->offset, sample.shape.withOffset ? offset : "") << after[i];
            ASSERT_EQ(after[i].substr(is->length), before[i].substr(was->length));
            if (i == 0) {
                firstBefore = was;
                firstAfter = is;
            }
            const double spacing = static_cast<double>(wallMilliseconds(*was, standInYear) -
                                                       wallMilliseconds(*firstBefore, standInYear)) /
                                   speed;
            const std::int64_t wall = wallMilliseconds(*is, standInYear);
            const auto error = std::llabs(std::llround(
                static_cast<double>(wall - wallMilliseconds(*firstAfter, standInYear)) - spacing));
            mostSpacingError = std::max<std::int64_t>(mostSpacingError, error);
            latestWall = std::max(latestWall, wall);
        }
        EXPECT_LE(mostSpacingError, 1);
        // The session ends with its latest line, stamped at the time it ended.
        const auto now = parseStamp(formatStamp(clock.now(), sample.shape) + "  ");
        ASSERT_TRUE(now);
        EXPECT_LE(std::llabs(wallMilliseconds(*now, standInYear) - latestWall), 1);
    }
}

TEST(FakeGameReplayTest, LinesWithoutAStampFollowAndTheYearTurns) {
    ReplaySource source(
        "12/31 23:59:59.500  ZONE_CHANGE,1,\"Orgrimmar\",0\n"
        "a line of no known shape\n"
        "1/1 00:00:00.250  ZONE_CHANGE,572,\"Ruins of Lordaeron\",0");
    const auto first = source.next();
    const auto unstamped = source.next();
    const auto third = source.next();
    ASSERT_TRUE(first && unstamped && third);
    EXPECT_FALSE(source.next());
    EXPECT_EQ(first->offset.count(), 0);
    EXPECT_EQ(first->afterStamp, "  ZONE_CHANGE,1,\"Orgrimmar\",0");
    EXPECT_FALSE(unstamped->shape);
    EXPECT_EQ(unstamped->afterStamp, "a line of no known shape");
    EXPECT_EQ(third->offset.count(), 750);
    EXPECT_EQ(third->shape, (StampShape{false, false}));
}

}  // namespace
}  // namespace fakegame
