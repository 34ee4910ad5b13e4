// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "EngineFixture.h"
#include "engine/CommandFile.h"

namespace parlan::testing {
namespace {

using MatchOutputsTest = EngineTest;

TEST(SubtitleTime, FormatsSecondsAsValidSubRip) {
    const std::pair<double, const char*> stamps[] = {
        {3725.25, "01:02:05,250"},
        {59.9996, "00:01:00,000"},  // milliseconds that round up to a whole second carry
        {3599.9999, "01:00:00,000"},
        {-1.5, "00:00:00,000"},  // before the start reads as the start
        {std::nan(""), "00:00:00,000"},
    };
    for (const auto& [seconds, text] : stamps) {
        EXPECT_EQ(LogEvent::fixedFormatTimeDetailComma(seconds), text) << seconds;
    }
}

TEST_F(MatchOutputsTest, SubtitleFileHoldsTimelineThenFactCues) {
    feed(lines::enterArena);
    // After a reload the game writes buffered lines older than the zone change: they sit at the start.
    feed(lines::death("3/7/2025 21:03:50.0001", "Early-Realm"));
    feed(lines::matchStart);
    feed(lines::death("3/7/2025 21:05:22.5001", "Someone-Realm"));  // 75.5 s after the start
    feed(lines::matchEnd("0"));                                     // 183.2 s
    const std::string expected =
        "1\r\n00:00:00,000 --> 00:00:02,000\r\nStart: Cage of Carnage\r\n\r\n"
        "2\r\n00:00:00,000 --> 00:00:00,000\r\nDeath: Early-Realm (E)\r\n\r\n"
        "3\r\n00:01:15,500 --> 00:01:17,500\r\nDeath: Someone-Realm (E)\r\n\r\n"
        "4\r\n00:03:03,200 --> 00:03:05,200\r\nEnd: Away, 183, 1523\r\n\r\n"
        "5\r\n00:03:03,200 --> 00:03:03,200\r\nArenaType: 2v2\r\n\r\n"
        "6\r\n00:03:03,200 --> 00:03:03,200\r\nPlayTime: 183\r\n\r\n"
        "7\r\n00:03:03,200 --> 00:03:03,200\r\nScore: 1523\r\n\r\n"
        "8\r\n00:03:03,200 --> 00:03:03,200\r\nWinTeam: Away\r\n\r\n"
        "9\r\n00:03:03,200 --> 00:03:03,200\r\nZoneName: Cage of Carnage\r\n\r\n"
        "10\r\n00:03:03,200 --> 00:03:03,200\r\nZoneNumber: 1552\r\n\r\n"
        "11\r\n00:03:03,200 --> 00:03:03,200\r\nZoneType: Arena\r\n\r\n";
    EXPECT_EQ(subtitles(), expected);
}

// At the end-of-match pause the subtitles must be on disk for the recorder, and the End not yet written.
class PauseWatchingClock final : public tavrin::Clock {
public:
    Date now() const override { return localDate(2025, 3, 7, 21, 4, 7); }
    void sleepFor(std::chrono::milliseconds span) override { onSleep(span); }
    std::function<void(std::chrono::milliseconds)> onSleep;
};

TEST(MatchOutputsPause, EndCommandFollowsTheWrittenSubtitlesAfterOneSecond) {
    TemporaryFolder movies;
    PauseWatchingClock clock;
    LogParser parser(movies.path(), clock);
    const std::string stamp = "2025-03-07 21.04.07";
    int pauses = 0;
    clock.onSleep = [&](std::chrono::milliseconds) {
        ++pauses;
        EXPECT_NE(readFile(parser.subPath() + stamp + ".srt").find("End: Away"), std::string::npos);
        EXPECT_EQ(readFile(parser.logPath() + stamp + ".cmd").find("CMD: End"), std::string::npos);
    };
    for (const auto& line : {lines::enterArena, lines::matchEnd("1")}) {
        parser.body(*parser.head(line));
    }
    EXPECT_EQ(pauses, 1);
    EXPECT_NE(readFile(parser.logPath() + stamp + ".cmd").find("CMD: End\r\n"), std::string::npos);
}

TEST_F(MatchOutputsTest, MatchStaysOpenUntilItsEndIsWrittenIntoFoldersMadeAgain) {
    feed(lines::enterArena);
    // A folder where the subtitle file should go makes it impossible to open: no End yet.
    const std::string blocker = parser.subPath() + "2025-03-07 21.04.07.srt";
    std::filesystem::create_directories(blocker);
    feed(lines::matchEnd("1"));
    EXPECT_TRUE(parser.inMatch());
    EXPECT_EQ(commandFile(), "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\n");
    std::filesystem::remove(blocker);
    // The command folder removed during the match is made again for the End, which the recorder
    // waits for. Ended by silence: no line copied to the match log makes the folder first.
    std::filesystem::remove_all(parser.logPath());
    const Date lastRead = clock.now();
    clock.advance(std::chrono::seconds(1201));
    parser.onEventIdle(lastRead);
    EXPECT_FALSE(parser.inMatch());
    EXPECT_EQ(commandFile(), "CMD: End\r\n");
    EXPECT_NE(subtitles().find("End: Away, 183, 1523\r\n"), std::string::npos);  // the result is kept
    EXPECT_NE(subtitles().find("End: Idle\r\n"), std::string::npos);
}

// A folder chosen during a match takes the next match's files; the match in progress ends where it began.
// A chosen folder that is missing (its drive not mounted) is not made, and no match file goes anywhere.
TEST_F(MatchOutputsTest, NextMatchFollowsAChangedMoviesFolder) {
    std::optional<std::string> chosen;
    parser.followMoviesFolder([&] { return chosen; });
    feed(lines::enterArena);
    chosen = movies.file("chosen");
    feed(lines::matchEnd("1"));
    EXPECT_EQ(commandFile(), std::string(command::startText) + std::string(command::endText));
    EXPECT_NE(subtitles().find("\r\nEnd: "), std::string::npos);
    const auto files = [&] {
        const std::filesystem::recursive_directory_iterator all(movies.path());
        return std::distance(begin(all), end(all));
    };
    const auto before = files();
    feed(logLine("3/7/2025 21:10:00.0001", "ZONE_CHANGE", "1552,\"Cage of Carnage\",0"));
    feed(lines::matchEnd("1"));
    EXPECT_FALSE(parser.inMatch());
    EXPECT_EQ(files(), before);
    std::filesystem::create_directory(*chosen);
    feed(logLine("3/7/2025 21:20:00.0001", "ZONE_CHANGE", "1552,\"Cage of Carnage\",0"));
    EXPECT_EQ(parser.logPath(), movies.file("chosen/.logs/"));
    EXPECT_EQ(commandFile(parser.stamp()), command::startText);
}

}  // namespace
}  // namespace parlan::testing
