#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "EngineFixture.h"
#include "engine/LogFiles.h"
#include "engine/Thresholds.h"

namespace parlan::testing {
namespace {

using tavrin::testing::writeFile;

// A follower over a temporary Logs folder. The clock stands at the lines' times, so they are recent.
class LogFilesTest : public EngineTest {
protected:
    LogFilesTest() : logs(parser, clock) {
        std::filesystem::create_directories(folder());
        logs.setLineDateObserver([this](Date) { ++linesDated; });
    }

    std::string folder() const { return movies.path() + "/Logs"; }
    std::string logFile(const std::string& name = "WoWCombatLog-030725_210400.txt") const {
        return folder() + "/" + name;
    }
    void pass() { logs.onFileModified(logs.getRecentFile(folder())); }
    // Every line with a valid head and date that reached the age test.
    int linesDated = 0;
    LogFiles logs;
};

// A distinct wanted line (MAP_CHANGE is always followed) for each number.
std::string mapLine(int number) {
    return logLine("3/7/2025 21:04:05.0001", "MAP_CHANGE", std::to_string(number) + ",\"Map\",0") + "\n";
}

TEST_F(LogFilesTest, OnlyTheGreatestLiveNonEmptyLogIsFollowed) {
    EXPECT_FALSE(logs.getRecentFile(folder() + "/missing"));
    writeFile(folder() + "/notes.txt", "x");
    writeFile(folder() + "/WoWCombatLog-030725_210400.log", "x");
    touch(folder() + "/notes.txt", clock.now());
    EXPECT_FALSE(logs.getRecentFile(folder()));

    writeFile(logFile("WoWCombatLog-030625_080000.txt"), "x");
    writeFile(logFile("WoWCombatLog-030725_210400.txt"), "xy");
    touch(logFile("WoWCombatLog-030625_080000.txt"), clock.now());
    touch(logFile("WoWCombatLog-030725_210400.txt"), clock.now() - std::chrono::seconds(10));
    EXPECT_FALSE(logs.getRecentFile(folder()));  // the greatest name is stale

    touch(logFile("WoWCombatLog-030725_210400.txt"), clock.now() - std::chrono::milliseconds(9999));
    auto file = logs.getRecentFile(folder());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->path, logFile("WoWCombatLog-030725_210400.txt"));
    EXPECT_EQ(file->size, 2);
    EXPECT_DOUBLE_EQ(file->diff, 9.999);

    // ".txt" right after the prefix sorts after every "-" name; a future time counts as live.
    writeFile(logFile("WoWCombatLog.txt"), "xyz");
    touch(logFile("WoWCombatLog.txt"), clock.now() + std::chrono::hours(1));
    file = logs.getRecentFile(folder());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->path, logFile("WoWCombatLog.txt"));
    EXPECT_LT(file->diff, 0.0);

    writeFile(logFile("WoWCombatLog.txt"), "");
    touch(logFile("WoWCombatLog.txt"), clock.now());
    EXPECT_FALSE(logs.getRecentFile(folder()));  // empty
    std::filesystem::remove(logFile("WoWCombatLog.txt"));
    std::filesystem::create_directory(logFile("WoWCombatLog.txt"));
    EXPECT_FALSE(logs.getRecentFile(folder()));  // not a file
}

TEST_F(LogFilesTest, GrowingLogDispatchesEveryLineOnceAndWaitsForUnfinishedLines) {
    const std::string first = mapLine(1) + mapLine(2);
    writeFile(logFile(), first);
    touch(logFile(), clock.now());
    pass();
    EXPECT_EQ(linesDated, 2);

    // The game is in the middle of writing a line: nothing of it yet.
    const std::string third = mapLine(3);
    writeFile(logFile(), third.substr(0, 30), true);
    touch(logFile(), clock.now());
    pass();
    EXPECT_EQ(linesDated, 2);
    EXPECT_EQ(logs.cache().offset, static_cast<std::int64_t>(first.size()));

    writeFile(logFile(), third.substr(30) + mapLine(4), true);
    touch(logFile(), clock.now());
    pass();
    EXPECT_EQ(linesDated, 4);
    EXPECT_EQ(parser.eventFilter()[5].group(1), "4");

    pass();  // nothing new: same size as remembered
    EXPECT_EQ(linesDated, 4);
}

TEST_F(LogFilesTest, UnchangedSizeIsNotReadAgain) {
    writeFile(logFile(), mapLine(1));
    touch(logFile(), clock.now());
    pass();
    // Rewritten in place with the same size: the follower does not open it again.
    writeFile(logFile(), mapLine(7));
    touch(logFile(), clock.now());
    pass();
    EXPECT_EQ(linesDated, 1);
    EXPECT_EQ(parser.eventFilter()[5].group(1), "1");
}

TEST_F(LogFilesTest, NewOrShrunkLogIsReadFromItsStart) {
    std::string big;
    for (int i = 0; i < 50; ++i) {
        big += mapLine(i);
    }
    writeFile(logFile(), big);
    touch(logFile(), clock.now());
    pass();
    EXPECT_EQ(linesDated, 50);

    // The game starts a new log: its first lines carry the arena's zone change.
    writeFile(logFile("WoWCombatLog-030725_211000.txt"), lines::enterArena + "\n" + mapLine(99));
    touch(logFile("WoWCombatLog-030725_211000.txt"), clock.now());
    pass();
    EXPECT_EQ(linesDated, 52);
    EXPECT_TRUE(parser.inMatch());

    // The same file cut below the remembered position.
    writeFile(logFile("WoWCombatLog-030725_211000.txt"), mapLine(5));
    touch(logFile("WoWCombatLog-030725_211000.txt"), clock.now());
    pass();
    EXPECT_EQ(linesDated, 53);
    EXPECT_EQ(parser.eventFilter()[5].group(1), "5");
}

TEST_F(LogFilesTest, LinesLeftInTheOldLogAreReadBeforeTheNewOne) {
    writeFile(logFile(), mapLine(1));
    touch(logFile(), clock.now());
    pass();
    // The game writes its last lines and moves on to a new file before the next pass.
    writeFile(logFile(), mapLine(2) + mapLine(3), true);
    writeFile(logFile("WoWCombatLog-030725_211000.txt"), mapLine(4));
    touch(logFile("WoWCombatLog-030725_211000.txt"), clock.now());
    pass();
    EXPECT_EQ(linesDated, 4);
    EXPECT_EQ(parser.eventFilter()[5].group(1), "4");
}

TEST_F(LogFilesTest, LogRewrittenPastTheRememberedPositionIsReadFromItsStart) {
    writeFile(logFile(), mapLine(1) + mapLine(2));
    touch(logFile(), clock.now());
    pass();
    // Emptied and written again beyond the old end between two passes: same file, larger size.
    writeFile(logFile(), lines::enterArena + "\n" + mapLine(3) + mapLine(4));
    touch(logFile(), clock.now());
    pass();
    EXPECT_TRUE(parser.inMatch());
    EXPECT_EQ(linesDated, 5);
}

TEST_F(LogFilesTest, ReplacedLogOfTheSameNameIsReadFromItsStart) {
    writeFile(logFile(), mapLine(1));
    touch(logFile(), clock.now());
    pass();
    // Kept elsewhere, so the new file cannot reuse its inode.
    std::filesystem::rename(logFile(), folder() + "/old.txt");
    writeFile(logFile(), mapLine(2) + mapLine(3));
    touch(logFile(), clock.now());
    pass();
    EXPECT_EQ(linesDated, 3);
    EXPECT_EQ(parser.eventFilter()[5].group(1), "3");
}

TEST_F(LogFilesTest, LargeLogIsCaughtUpFromItsLastMebibyteAtALineStart) {
    std::string text = lines::version + "\n";
    int count = 0;
    while (text.size() < 5 * 1024 * 1024) {
        text += mapLine(count++);
    }
    writeFile(logFile(), text);
    touch(logFile(), clock.now());
    pass();
    // The first line (the version), then only whole lines of the last MiB: no fragment.
    EXPECT_EQ(parser.version(), "11.1.0");
    const std::size_t firstWhole = text.find('\n', text.size() - static_cast<std::size_t>(maxSize) - 1) + 1;
    const auto expectedTail =
        std::count(text.begin() + static_cast<std::ptrdiff_t>(firstWhole), text.end(), '\n');
    EXPECT_EQ(linesDated, 1 + expectedTail);
    EXPECT_EQ(parser.eventFilter()[5].group(1), std::to_string(count - 1));
    EXPECT_EQ(logs.cache().offset, static_cast<std::int64_t>(text.size()));
}

TEST_F(LogFilesTest, LongLinesComeInPiecesAndDoNotStallTheFollower) {
    writeFile(logFile(), std::string(10000, 'x') + "\n" + mapLine(1));
    touch(logFile(), clock.now());
    pass();
    EXPECT_EQ(linesDated, 1);
    EXPECT_EQ(logs.cache().offset, static_cast<std::int64_t>(10001 + mapLine(1).size()));
    // A long line still being written is handed on piece by piece as the buffer fills.
    writeFile(logFile(), std::string(5000, 'y'), true);
    touch(logFile(), clock.now());
    pass();
    EXPECT_EQ(logs.cache().offset, static_cast<std::int64_t>(10001 + mapLine(1).size() + 4095));
}

TEST_F(LogFilesTest, OldLinesAreSkippedExceptTheVersion) {
    const Date lineTime = localDate(2025, 3, 7, 21, 4, 5);
    clock.set(lineTime + std::chrono::microseconds(1199'999'000));
    logs.onReadLine(mapLine(1));
    EXPECT_EQ(parser.eventFilter()[5].group(1), "1");
    clock.set(lineTime + std::chrono::seconds(1200));
    logs.onReadLine(mapLine(2));
    EXPECT_EQ(parser.eventFilter()[5].group(1), "1");
    clock.set(lineTime + std::chrono::hours(24 * 30));
    logs.onReadLine("  " + lines::version + "\r\n");
    EXPECT_EQ(parser.version(), "11.1.0");
}

TEST_F(LogFilesTest, IdleReportsTheLastCompletedRead) {
    writeFile(logFile(), lines::enterArena + "\n");
    touch(logFile(), clock.now());
    pass();
    ASSERT_TRUE(parser.inMatch());
    const Date lastRead = logs.recentRead();
    EXPECT_EQ(lastRead, clock.now());
    clock.advance(std::chrono::seconds(1201));
    EXPECT_FALSE(logs.getRecentFile(folder()));  // stale now
    logs.onModifiedFileEmpty();
    EXPECT_FALSE(parser.inMatch());
}

}  // namespace
}  // namespace parlan::testing
