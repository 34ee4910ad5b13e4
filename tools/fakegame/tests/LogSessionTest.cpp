// The stand-in game's logs, checked only for what the other tests rely on when they follow them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string_view>
#include <vector>

#include "EngineFixture.h"
#include "log/ArenaMatch.h"
#include "log/LogReplay.h"
#include "log/LogSession.h"

namespace fakegame {
namespace {

using parlan::testing::localDate;
using tavrin::testing::ManualClock;
using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;

const Date sessionStart = localDate(2025, 3, 7, 21, 4, 7);
const ArenaSettings shortMatch{.matchLength = std::chrono::seconds(5), .matches = 1, .seed = 2};

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

// The built-in session written whole into one file on a manual clock, which jumps where a real one would
// wait: what every other way of writing it must add up to.
std::string wholeSession() {
    TemporaryFolder logs;
    ManualClock clock(sessionStart);
    ArenaMatchSource source(shortMatch);
    return readFile(LogSession({.logsFolder = logs.path(), .bursts = std::nullopt}, clock).run(source).at(0));
}

// A manual clock that counts the times the log ends in a cut line when the writer waits, as a follower
// polling it would see them.
class WatchingClock final : public tavrin::Clock {
public:
    explicit WatchingClock(std::string watched) : file(std::move(watched)) {}
    Date now() const override { return clock_.now(); }
    void sleepFor(std::chrono::milliseconds span) override {
        const std::string text = readFile(file);
        cutLines += !text.empty() && text.back() != '\n';
        clock_.sleepFor(span);
    }

    const std::string file;
    int cutLines = 0;

private:
    ManualClock clock_{sessionStart};
};

TEST(FakeGameSessionTest, BurstsCutLinesOnTheWayButAddUpToTheWhole) {
    TemporaryFolder logs;
    WatchingClock clock(logs.file("WoWCombatLog-030725_210407.txt"));
    ArenaMatchSource source(shortMatch);
    const auto files =
        LogSession({.logsFolder = logs.path(), .bursts = BurstSettings{.seed = 3, .averageBytes = 200}},
                   clock)
            .run(source);
    ASSERT_EQ(files, std::vector<std::string>{clock.file});
    EXPECT_GT(clock.cutLines, 0);
    EXPECT_EQ(readFile(files[0]), wholeSession());
}

TEST(FakeGameSessionTest, NewFilesAndTruncationLoseNoLine) {
    const std::string whole = wholeSession();
    const auto lines = splitLines(whole);
    ASSERT_GT(lines.size(), 30U);

    TemporaryFolder logs;
    ManualClock clock(sessionStart);
    ArenaMatchSource source(shortMatch);
    const auto files =
        LogSession({.logsFolder = logs.path(), .bursts = std::nullopt, .newFileAfterLines = 10}, clock)
            .run(source);
    ASSERT_EQ(files.size(), lines.size() / 10 + 1);
    std::string joined;
    for (const auto& file : files) {
        joined += readFile(file);
    }
    // Each file has a name of its own, and its lines still carry the times they were due.
    EXPECT_EQ(joined, whole);

    TemporaryFolder truncated;
    ManualClock truncatingClock(sessionStart);
    ArenaMatchSource again(shortMatch);
    const auto one =
        LogSession({.logsFolder = truncated.path(), .bursts = std::nullopt, .truncateAfterLines = 10},
                   truncatingClock)
            .run(again);
    ASSERT_EQ(one.size(), 1U);
    std::string rest;
    for (std::size_t i = lines.size() / 10 * 10; i < lines.size(); ++i) {
        rest += lines[i] + "\n";
    }
    EXPECT_EQ(readFile(one[0]), rest);
}

TEST(FakeGameSessionTest, ReplayedLinesKeepShapeTextAndSpacing) {
    constexpr double speed = 4.0;
    // Milliseconds from the first stamp; 2000 stands in for a missing year.
    const auto since = [](const Stamp& stamp, const Stamp& first) {
        return static_cast<double>(wallMilliseconds(stamp, 2000) - wallMilliseconds(first, 2000));
    };
    for (const auto& [name, shape] :
         {std::pair{"retail-11.0.2-soloshuffle-x4-reloads.txt", StampShape{true, true}},
          std::pair{"retail-11.0.2beta-skirmish-3v3-full-session.txt", StampShape{}},
          std::pair{"classic-3.4.1-wotlk-2arenas.txt", StampShape{false, false}}}) {
        SCOPED_TRACE(name);
        const std::string original = readFile(std::string(TAVRIN_SHARED_DIR) + "/combatlogs/" + name);
        TemporaryFolder logs;
        ManualClock clock(sessionStart);
        ReplaySource source(original);
        const auto files =
            LogSession({.logsFolder = logs.path(), .speed = speed, .bursts = std::nullopt}, clock)
                .run(source);
        ASSERT_EQ(files.size(), 1U);
        const auto before = splitLines(original);
        const auto after = splitLines(readFile(files[0]));
        ASSERT_GT(before.size(), 1000U);
        ASSERT_EQ(after.size(), before.size());
        const std::string offset = shape.withOffset ? utcOffsetText(clock.now()) : "";
        const auto firstBefore = parseStamp(before[0]);
        const auto firstAfter = parseStamp(after[0]);
        ASSERT_TRUE(firstBefore && firstAfter);
        double mostSpacingError = 0;
        for (std::size_t i = 0; i < before.size(); ++i) {
            const auto was = parseStamp(before[i]);
            const auto is = parseStamp(after[i]);
            ASSERT_TRUE(was && is) << i;
            ASSERT_EQ(is->shape, shape) << after[i];
            ASSERT_EQ(is->offset, offset) << after[i];
            ASSERT_EQ(after[i].substr(is->length), before[i].substr(was->length));
            mostSpacingError = std::max(
                mostSpacingError, std::abs(since(*is, *firstAfter) - since(*was, *firstBefore) / speed));
        }
        EXPECT_LE(mostSpacingError, 1.0);
    }
}

}  // namespace
}  // namespace fakegame
