#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "EngineFixture.h"

namespace parlan::testing {
namespace {

using MatchOutputsTest = EngineTest;
constexpr const char* stamp = "2025-03-07 21.04.07";

TEST(SubtitleTime, FormatsSecondsAsValidSubRip) {
    EXPECT_EQ(LogEvent::fixedFormatTimeDetailComma(3725.25), "01:02:05,250");
    EXPECT_EQ(LogEvent::fixedFormatTimeDetailComma(0.5), "00:00:00,500");
    EXPECT_EQ(LogEvent::fixedFormatTimeDetailComma(0.0), "00:00:00,000");
    // Milliseconds that round up to a whole second carry into the seconds.
    EXPECT_EQ(LogEvent::fixedFormatTimeDetailComma(59.9996), "00:01:00,000");
    EXPECT_EQ(LogEvent::fixedFormatTimeDetailComma(3599.9999), "01:00:00,000");
    // Entries from before the start read as the start.
    EXPECT_EQ(LogEvent::fixedFormatTimeDetailComma(-1.5), "00:00:00,000");
    EXPECT_EQ(LogEvent::fixedFormatTimeDetailComma(std::nan("")), "00:00:00,000");
}

TEST_F(MatchOutputsTest, SubtitleFileHoldsTimelineThenFactCues) {
    feed(lines::enterArena);
    feed(lines::matchStart);
    feed(lines::death("3/7/2025 21:05:22.5001", "Someone-Realm", "0x548"));         // 75.5 s after the start
    feed(logLine("3/7/2025 21:07:10.2001", "ARENA_MATCH_END", "0,183,1523,1490"));  // 183.2 s
    const std::string expected =
        "1\r\n00:00:00,000 --> 00:00:02,000\r\nStart: Cage of Carnage\r\n\r\n"
        "2\r\n00:01:15,500 --> 00:01:17,500\r\nDeath: Someone-Realm (E)\r\n\r\n"
        "3\r\n00:03:03,200 --> 00:03:05,200\r\nEnd: Away, 183, 1523\r\n\r\n"
        "4\r\n00:03:03,200 --> 00:03:03,200\r\nArenaType: 2v2\r\n\r\n"
        "5\r\n00:03:03,200 --> 00:03:03,200\r\nPlayTime: 183\r\n\r\n"
        "6\r\n00:03:03,200 --> 00:03:03,200\r\nScore: 1523\r\n\r\n"
        "7\r\n00:03:03,200 --> 00:03:03,200\r\nWinTeam: Away\r\n\r\n"
        "8\r\n00:03:03,200 --> 00:03:03,200\r\nZoneName: Cage of Carnage\r\n\r\n"
        "9\r\n00:03:03,200 --> 00:03:03,200\r\nZoneNumber: 1552\r\n\r\n"
        "10\r\n00:03:03,200 --> 00:03:03,200\r\nZoneType: Arena\r\n\r\n";
    EXPECT_EQ(subtitles(stamp), expected);
}

TEST_F(MatchOutputsTest, LinesReadBackFromBeforeTheStartSitAtTheStart) {
    feed(lines::enterArena);
    // After a reload the game writes buffered lines older than the zone change.
    feed(lines::death("3/7/2025 21:03:50.0001", "Early-Realm", "0x548"));
    feed(lines::leaveArena);
    EXPECT_NE(subtitles(stamp).find("2\r\n00:00:00,000 --> 00:00:00,000\r\nDeath: Early-Realm (E)"),
              std::string::npos);
}

// Checks, when the end-of-match pause begins, that the subtitles are on disk and the End command not yet.
class PauseWatchingClock final : public tavrin::Clock {
public:
    Date now() const override { return now_; }
    void sleepFor(std::chrono::milliseconds span) override {
        if (onSleep) {
            onSleep(span);
        }
    }
    Date now_ = localDate(2025, 3, 7, 21, 4, 7);
    std::function<void(std::chrono::milliseconds)> onSleep;
};

TEST(MatchOutputsPause, EndCommandFollowsTheWrittenSubtitlesAfterOneSecond) {
    TemporaryFolder movies;
    PauseWatchingClock clock;
    LogParser parser(movies.path(), clock);
    int pauses = 0;
    clock.onSleep = [&](std::chrono::milliseconds span) {
        ++pauses;
        EXPECT_EQ(span, std::chrono::seconds(1));
        EXPECT_NE(readFile(parser.subPath() + stamp + ".srt").find("End: Away"), std::string::npos);
        EXPECT_EQ(readFile(parser.logPath() + stamp + ".cmd").find("CMD: End"), std::string::npos);
    };
    for (const auto& line : {lines::enterArena, lines::matchEnd(1)}) {
        parser.body(*parser.head(line));
    }
    EXPECT_EQ(pauses, 1);
    EXPECT_NE(readFile(parser.logPath() + stamp + ".cmd").find("CMD: End\r\n"), std::string::npos);
}

TEST_F(MatchOutputsTest, UnwritableSubtitlesKeepTheMatchOpenUntilAnEndSucceeds) {
    feed(lines::enterArena);
    // A folder where the subtitle file should go makes it impossible to open.
    std::filesystem::create_directories(parser.subPath() + stamp + ".srt");
    feed(lines::matchEnd(1));
    EXPECT_TRUE(parser.inMatch());
    EXPECT_EQ(commandFile(stamp), "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\n");
    std::filesystem::remove(parser.subPath() + stamp + ".srt");
    ASSERT_TRUE(feed(lines::leaveArena));
    EXPECT_FALSE(parser.inMatch());
    const std::string text = subtitles(stamp);
    EXPECT_NE(text.find("End: Away, 183, 1523\r\n"), std::string::npos);
    EXPECT_NE(text.find("End: Zone\r\n"), std::string::npos);
    EXPECT_EQ(commandFile(stamp), "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\nCMD: End\r\n");
}

// The folder removed during a match is made again for the End, which the recorder waits for.
TEST_F(MatchOutputsTest, CommandFolderRemovedDuringAMatchIsMadeAgainForTheEnd) {
    feed(lines::enterArena);
    std::filesystem::remove_all(parser.logPath());
    feed(lines::leaveArena);
    EXPECT_FALSE(parser.inMatch());
    EXPECT_EQ(commandFile(stamp), "CMD: End\r\n");
    EXPECT_NE(subtitles(stamp).find("End: Zone"), std::string::npos);
}

}  // namespace
}  // namespace parlan::testing
