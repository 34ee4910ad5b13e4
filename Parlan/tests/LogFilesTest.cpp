// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "EngineFixture.h"
#include "engine/LogFiles.h"
#include "engine/Thresholds.h"

namespace parlan::testing {
namespace {

// A distinct wanted line (MAP_CHANGE is always followed) for each number.
std::string mapLine(int number) {
    return logLine("3/7/2025 21:04:05.0001", "MAP_CHANGE", std::to_string(number) + ",\"Map\",0") + "\n";
}

// A follower over a temporary Logs folder. The clock stands at the lines' times, so they are recent.
class LogFilesTest : public EngineTest {
protected:
    LogFilesTest() : logs(parser, clock) {
        std::filesystem::create_directories(folder());
        logs.setLineDateObserver([this](Date) { ++linesDated; });
    }

    std::string folder() const { return movies.path() + "/Logs"; }
    std::string logFile(const std::string& name = "030725_210400") const {
        return folder() + "/WoWCombatLog-" + name + ".txt";
    }
    // Writes (or appends) to a log, which the game has just modified.
    void write(const std::string& text, bool append = false, const std::string& name = "030725_210400") {
        tavrin::testing::writeFile(logFile(name), text, append);
        touch(logFile(name), clock.now());
    }
    void pass() { logs.onFileModified(logs.getRecentFile(folder())); }
    std::string lastMap() const { return parser.eventFilter()[5].group(1); }

    // Every line with a valid head and date that reached the age test.
    int linesDated = 0;
    LogFiles logs;
};

TEST_F(LogFilesTest, TheLatestBegunLogModifiedInTheLastTenSecondsIsFollowed) {
    EXPECT_FALSE(logs.getRecentFile(folder() + "/missing"));
    write("x", false, "030625_080000");
    write("xy");
    touch(logFile(), clock.now() - std::chrono::seconds(10));
    EXPECT_FALSE(logs.getRecentFile(folder()));  // the greatest name is stale
    touch(logFile(), clock.now() - std::chrono::milliseconds(9999));
    const auto file = logs.getRecentFile(folder());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->path, logFile());
    EXPECT_EQ(file->size, 2);
    EXPECT_DOUBLE_EQ(file->diff, 9.999);

    // Ranked by when they were begun: the date in the name (a December log sorts after March), else the
    // modification time (a log named without a date sorts after every dated one).
    write("old", false, "123124_235900");
    touch(logFile("123124_235900"), clock.now() - std::chrono::hours(24));
    tavrin::testing::writeFile(folder() + "/WoWCombatLog.txt", "legacy");
    touch(folder() + "/WoWCombatLog.txt", clock.now() - std::chrono::hours(1));
    EXPECT_EQ(logs.getRecentFile(folder()).value().path, logFile());
}

TEST_F(LogFilesTest, GrowingLogDispatchesEveryLineOnceAndWaitsForUnfinishedLines) {
    const std::string first = mapLine(1) + mapLine(2);
    write(first);
    pass();
    EXPECT_EQ(linesDated, 2);  // the first line too, once

    // The game is in the middle of writing a line: nothing of it yet.
    const std::string third = mapLine(3);
    write(third.substr(0, 30), true);
    pass();
    EXPECT_EQ(linesDated, 2);
    write(third.substr(30) + mapLine(4), true);
    clock.advance(std::chrono::seconds(1));
    pass();
    EXPECT_EQ(logs.recentRead(), clock.now());  // the idle check counts from here
    EXPECT_EQ(linesDated, 4);

    // Rewritten in place with the same size: not opened again.
    write(first + mapLine(3) + mapLine(7));
    pass();
    EXPECT_EQ(linesDated, 4);
}

TEST_F(LogFilesTest, EachLogIsReadFromItsStartOnceAndLeftLogsGoOnWhereTheyWereLeft) {
    write(mapLine(1));
    pass();
    // The game writes its last lines and starts a new log before the next pass: the old log is finished
    // first, then the new one (longer than the old position) is read from its start, whose lines carry
    // the arena's zone change.
    write(mapLine(2) + mapLine(3), true);
    write(lines::enterArena + "\n" + mapLine(4) + mapLine(5) + mapLine(6), false, "030725_211000");
    pass();
    EXPECT_EQ(linesDated, 7);
    EXPECT_EQ(lastMap(), "6");
    EXPECT_TRUE(parser.inMatch());

    // The new log cut below the remembered position.
    write(mapLine(7), false, "030725_211000");
    pass();
    EXPECT_EQ(linesDated, 8);
    // Emptied and written again beyond the old end between two passes: same inode, larger size.
    write(mapLine(8) + mapLine(9), false, "030725_211000");
    pass();
    EXPECT_EQ(linesDated, 10);

    // The newest log deleted: back to the old one, where it was left, not from its start again.
    std::filesystem::remove(logFile("030725_211000"));
    write(mapLine(10), true);
    pass();
    EXPECT_EQ(linesDated, 11);
    EXPECT_EQ(lastMap(), "10");
}

TEST_F(LogFilesTest, LargeLogIsCaughtUpFromItsLastMebibyteAtALineStart) {
    std::string text = lines::version + "\n";
    int count = 0;
    while (text.size() < 2 * maxSize) {
        text += mapLine(count++);
    }
    write(text);
    pass();
    // The first line (the version), then only whole lines of the last MiB: no fragment.
    EXPECT_EQ(parser.version(), "11.1.0");
    const std::size_t firstWhole = text.find('\n', text.size() - static_cast<std::size_t>(maxSize) - 1) + 1;
    const auto expectedTail =
        std::count(text.begin() + static_cast<std::ptrdiff_t>(firstWhole), text.end(), '\n');
    EXPECT_EQ(linesDated, 1 + expectedTail);
}

TEST_F(LogFilesTest, LongLinesComeInPiecesAndDoNotStallTheFollower) {
    const auto end = static_cast<std::int64_t>(10001 + mapLine(1).size());
    write(std::string(10000, 'x') + "\n" + mapLine(1));
    pass();
    EXPECT_EQ(linesDated, 1);
    EXPECT_EQ(logs.cache().offset, end);
    // A long line still being written is handed on piece by piece as the buffer fills.
    write(std::string(5000, 'y'), true);
    pass();
    EXPECT_EQ(logs.cache().offset, end + 4095);
}

TEST_F(LogFilesTest, LinesOlderThanTwentyMinutesAreSkippedExceptTheVersion) {
    const Date lineTime = localDate(2025, 3, 7, 21, 4, 5);
    clock.set(lineTime + std::chrono::microseconds(1199'999'000));
    logs.onReadLine(mapLine(1));
    clock.set(lineTime + std::chrono::seconds(1200));
    logs.onReadLine(mapLine(2));
    EXPECT_EQ(lastMap(), "1");
    clock.set(lineTime + std::chrono::hours(24 * 30));
    logs.onReadLine("  " + lines::version + "\r\n");
    EXPECT_EQ(parser.version(), "11.1.0");
}

}  // namespace
}  // namespace parlan::testing
