#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "EngineFixture.h"
#include "FakeGameTesting.h"
#include "log/ArenaMatch.h"

namespace fakegame {
namespace {

using namespace testing;

const Date sessionStart = parlan::testing::localDate(2025, 3, 7, 21, 4, 7);
const ArenaSettings shortMatch = arenaMatches(5, 1, 2);

// The built-in session written whole into one file: what every other way of writing must add up to.
std::string wholeSession() {
    TemporaryFolder logs;
    ManualClock clock(sessionStart);
    ArenaMatchSource source(shortMatch);
    return readFile(runSession(source, intoFolder(logs.path()), clock).at(0));
}

// A manual clock that looks at the log file whenever the writer waits, as a follower polling it would, and
// may ask the writer to stop after some waits.
class WatchingClock final : public tavrin::Clock {
public:
    explicit WatchingClock(Date start) : clock_(start) {}
    Date now() const override { return clock_.now(); }
    void sleepFor(std::chrono::milliseconds span) override {
        const std::string text = readFile(file);
        cutLineSeen = cutLineSeen || (!text.empty() && text.back() != '\n');
        if (++sleeps == stopAfterSleeps) {
            stop.request_stop();
        }
        clock_.sleepFor(span);
    }

    std::string file;
    bool cutLineSeen = false;
    int sleeps = 0;
    int stopAfterSleeps = -1;
    std::stop_source stop;

private:
    ManualClock clock_;
};

TEST(FakeGameSessionTest, NewFilesAndTruncationLoseNoLine) {
    const std::string whole = wholeSession();
    const auto lines = splitLines(whole);
    ASSERT_GT(lines.size(), 30U);

    TemporaryFolder logs;
    ManualClock clock(sessionStart);
    ArenaMatchSource source(shortMatch);
    const auto files = runSession(
        source, intoFolder(logs.path(), [](SessionSettings& settings) { settings.newFileAfterLines = 10; }),
        clock);
    ASSERT_EQ(files.size(), lines.size() / 10 + 1);
    std::string joined;
    const std::regex name(R"(.*/WoWCombatLog-\d{6}_\d{6}\.txt)");
    for (const auto& file : files) {
        EXPECT_TRUE(std::regex_match(file, name)) << file;
        joined += readFile(file);
    }
    EXPECT_TRUE(std::is_sorted(files.begin(), files.end()));
    EXPECT_EQ(std::adjacent_find(files.begin(), files.end()), files.end());
    // The next file takes a name of its own, and its lines still carry the times they were due.
    EXPECT_EQ(joined, whole);
    EXPECT_EQ(splitLines(readFile(files[0])).size(), 10U);

    TemporaryFolder truncated;
    ManualClock truncatingClock(sessionStart);
    ArenaMatchSource again(shortMatch);
    const auto one = runSession(
        again,
        intoFolder(truncated.path(), [](SessionSettings& settings) { settings.truncateAfterLines = 10; }),
        truncatingClock);
    ASSERT_EQ(one.size(), 1U);
    std::string rest;
    for (std::size_t i = lines.size() / 10 * 10; i < lines.size(); ++i) {
        rest += lines[i] + "\n";
    }
    EXPECT_EQ(readFile(one[0]), rest);
}

TEST(FakeGameSessionTest, BurstsLeaveCutLinesOnTheWayAndWholeOnesAtTheEnd) {
    TemporaryFolder logs;
    WatchingClock clock(sessionStart);
    clock.file = logs.file("WoWCombatLog-030725_210407.txt");
    ArenaMatchSource source(shortMatch);
    const auto files =
        LogSession(
            intoFolder(logs.path(), [](SessionSettings& settings) { settings.bursts = burstsOf(3, 200); }),
            clock)
            .run(source);
    ASSERT_EQ(files, std::vector<std::string>{clock.file});
    EXPECT_TRUE(clock.cutLineSeen);
    EXPECT_EQ(readFile(files[0]), wholeSession());
}

TEST(FakeGameSessionTest, AStopEndsTheSessionWithWholeLines) {
    TemporaryFolder logs;
    WatchingClock clock(sessionStart);
    clock.file = logs.file("WoWCombatLog-030725_210407.txt");
    clock.stopAfterSleeps = 25;
    ArenaMatchSource source(shortMatch);
    const auto files =
        LogSession(
            intoFolder(logs.path(), [](SessionSettings& settings) { settings.bursts = burstsOf(3, 200); }),
            clock)
            .run(source, clock.stop.get_token());
    ASSERT_EQ(files.size(), 1U);
    const std::string text = readFile(files[0]);
    const std::string whole = wholeSession();
    ASSERT_FALSE(text.empty());
    EXPECT_LT(text.size(), whole.size());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(whole.substr(0, text.size()), text);

    // No folder, no log.
    EXPECT_TRUE(LogSession(intoFolder(logs.file("missing/folder")), clock).run(source).empty());
}

}  // namespace
}  // namespace fakegame
