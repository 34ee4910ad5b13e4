// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>

#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "control/LogFiles.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using Commands = std::optional<std::vector<std::string>>;
using tavrin::testing::writeFile;

const std::string start = "BID: com.blizzard.worldofwarcraft\nCMD: Start\n";

// Command files in the command folder of a fresh home, dated by the test's clock.
class LogFilesTest : public ::testing::Test {
protected:
    LogFilesTest() { std::filesystem::create_directories(logs); }
    // Appends to a command file and dates it `age` before the clock's now, as the age test reads it.
    void append(const std::string& name, const std::string& text, std::chrono::milliseconds age = 100ms) {
        writeFile(logs + name, text, true);
        std::filesystem::last_write_time(logs + name, std::chrono::file_clock::from_sys(clock.now() - age));
    }
    Commands read() { return files.readCommands(logs); }

    tavrin::testing::TemporaryFolder home;
    std::string logs = home.path() + "/Videos/TavrinMovies/.logs/";
    tavrin::testing::ManualClock clock{tavrin::Date{std::chrono::hours(480000)}};
    LogFiles files{clock, MovieLocations([this](std::string_view name) -> std::optional<std::string> {
                       return name == "HOME" ? std::optional(home.path()) : std::nullopt;
                   })};
};

TEST_F(LogFilesTest, ReadsEachNewLineOnceFromWhereTheLastCallStopped) {
    append("m.cmd", start);
    EXPECT_EQ(read(), (Commands{{"m", "BID: com.blizzard.worldofwarcraft", "CMD: Start"}}));
    EXPECT_EQ(read(), std::nullopt);
    append("m.cmd", "CMD: End\r\n");
    EXPECT_EQ(read(), (Commands{{"m", "CMD: End"}}));
    // Blank lines are dropped, yet the position moves past them; a last line needs no line break.
    append("m.cmd", "   \r\n \t \n");
    EXPECT_EQ(read(), (Commands{{"m"}}));
    append("m.cmd", "  CMD: Later");
    EXPECT_EQ(read(), (Commands{{"m", "CMD: Later"}}));
    EXPECT_EQ(read(), std::nullopt);

    // The folder made again during a match: the proxy's End lands in another file of the same name,
    // here longer than what was read of the old one, which is read from its start.
    append("new", start + std::string(80, ' ') + "\nCMD: End\n");
    std::filesystem::rename(logs + "new", logs + "m.cmd");
    EXPECT_EQ(read(), (Commands{{"m", "BID: com.blizzard.worldofwarcraft", "CMD: Start", "CMD: End"}}));
    // The same file cut short and written again.
    std::filesystem::resize_file(logs + "m.cmd", 0);
    append("m.cmd", "CMD: End\n");
    EXPECT_EQ(read(), (Commands{{"m", "CMD: End"}}));
}

TEST_F(LogFilesTest, ReadsOnlyTheGreatestLiveCommandFile) {
    append("2024-05-01 20.00.00.cmd", start, 2000ms);
    EXPECT_EQ(read(), std::nullopt);
    append("2024-05-01 20.00.00.cmd", "", 1999ms);
    EXPECT_EQ(read(), (Commands{{"2024-05-01 20.00.00", "BID: com.blizzard.worldofwarcraft", "CMD: Start"}}));

    // Greater names that are stale, empty, not command files or not files at all do not count.
    append("2024-05-01 20.10.00.cmd", start);
    append("2024-05-01 20.20.00.cmd", start, 2500ms);
    append("2024-05-01 20.30.00.cmd", "");
    append("report.cmd.txt", start);
    std::filesystem::create_directory(logs + "z.cmd");
    EXPECT_EQ(read(), (Commands{{"2024-05-01 20.10.00", "BID: com.blizzard.worldofwarcraft", "CMD: Start"}}));

    // Deleting takes only the command files; the next one is read from its start.
    files.deleteCommands();
    for (const char* kept : {"report.cmd.txt", "z.cmd"}) {
        EXPECT_TRUE(std::filesystem::exists(logs + kept)) << kept;
    }
    EXPECT_FALSE(std::filesystem::exists(logs + "2024-05-01 20.10.00.cmd"));
    append("2024-05-01 20.40.00.cmd", start + "CMD: End\n");
    EXPECT_EQ(
        read(),
        (Commands{{"2024-05-01 20.40.00", "BID: com.blizzard.worldofwarcraft", "CMD: Start", "CMD: End"}}));
}

}  // namespace
}  // namespace vidora
