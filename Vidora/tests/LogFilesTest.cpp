#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "ChildProcess.h"
#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "control/LogFiles.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using Commands = std::vector<std::string>;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::writeFile;

constexpr auto matchName = "2024-05-01 20.15.30";
constexpr auto start = "BID: com.blizzard.worldofwarcraft\nCMD: Start\n";

// Sets a file's modification time the way the age test reads it.
void setModified(const std::string& path, tavrin::Date date) {
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch());
    const auto seconds = std::chrono::floor<std::chrono::seconds>(nanoseconds);
    const timespec time{seconds.count(), (nanoseconds - seconds).count()};
    const timespec times[2] = {time, time};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class LogFilesTest : public ::testing::Test {
protected:
    // Appends to a command file of the folder and dates it `age` before the clock's now.
    void append(const std::string& name, const std::string& text, std::chrono::milliseconds age = 100ms) {
        writeFile(folder_.file(name), text, true);
        setModified(folder_.file(name), clock_.now() - age);
    }
    std::optional<Commands> read() { return files_.readCommands(folder_.path()); }

    TemporaryFolder folder_;
    tavrin::testing::ManualClock clock_{std::chrono::sys_days{std::chrono::May / 1 / 2024} + 18h + 15min +
                                        31s};
    LogFiles files_{clock_, MovieLocations([this](std::string_view name) -> std::optional<std::string> {
                        return name == "HOME" ? std::optional(folder_.path()) : std::nullopt;
                    })};
};

TEST_F(LogFilesTest, ReadsEachNewLineOnceFromWhereTheLastCallStopped) {
    append(std::string(matchName) + ".cmd", start);
    EXPECT_EQ(read(), (Commands{matchName, "BID: com.blizzard.worldofwarcraft", "CMD: Start"}));
    EXPECT_EQ(read(), std::nullopt);

    append(std::string(matchName) + ".cmd", "CMD: End\r\n");
    EXPECT_EQ(read(), (Commands{matchName, "CMD: End"}));

    // Blank lines are dropped, yet the position moves past them; a last line needs no line break.
    append(std::string(matchName) + ".cmd", "   \r\n \t \n");
    EXPECT_EQ(read(), (Commands{matchName}));
    append(std::string(matchName) + ".cmd", "  CMD: Later");
    EXPECT_EQ(read(), (Commands{matchName, "CMD: Later"}));
    EXPECT_EQ(read(), std::nullopt);
}

// The folder removed and made again during a match: the proxy's End lands in a new file of the same
// name, shorter than what was read of the old one.
TEST_F(LogFilesTest, ReadsAFileMadeAgainUnderTheSameNameFromItsStart) {
    const std::string name = std::string(matchName) + ".cmd";
    append(name, start);
    ASSERT_TRUE(read());
    std::filesystem::remove(folder_.file(name));
    append(name, "CMD: End\n");
    EXPECT_EQ(read(), (Commands{matchName, "CMD: End"}));
}

TEST_F(LogFilesTest, ReadsOnlyTheGreatestLiveCommandFile) {
    EXPECT_EQ(files_.readCommands(folder_.file("missing")), std::nullopt);

    append("2024-05-01 20.00.00.cmd", start, 2000ms);
    EXPECT_EQ(read(), std::nullopt);
    append("2024-05-01 20.00.00.cmd", "", 1999ms);
    EXPECT_EQ(read(), (Commands{"2024-05-01 20.00.00", "BID: com.blizzard.worldofwarcraft", "CMD: Start"}));

    // Greater names that are stale, empty, not command files or not files at all do not count.
    append("2024-05-01 20.10.00.cmd", start);
    append("2024-05-01 20.20.00.cmd", start, 2500ms);
    append("2024-05-01 20.30.00.cmd", "");
    append("report.cmd.txt", start);
    append("x.CMD", start);
    std::filesystem::create_directory(folder_.file("z.cmd"));
    EXPECT_EQ(read(), (Commands{"2024-05-01 20.10.00", "BID: com.blizzard.worldofwarcraft", "CMD: Start"}));
}

TEST_F(LogFilesTest, DeletesOnlyCommandFilesAndReadsTheNextFileFromItsStart) {
    const std::string logs = folder_.path() + "/Videos/TavrinMovies/.logs";
    std::filesystem::create_directories(logs);
    const auto write = [&](const std::string& name, const std::string& text) {
        writeFile(logs + "/" + name, text);
        setModified(logs + "/" + name, clock_.now());
    };
    write("2024-05-01 20.15.30.cmd", std::string(start) + "CMD: End\n");
    write("2024-05-01 20.15.30.log", "a line of the match");
    write("notes.cmd.txt", "kept");
    EXPECT_EQ(files_.readCommands(logs).value_or(Commands{}).size(), 4U);

    files_.deleteCommands();
    EXPECT_FALSE(std::filesystem::exists(logs + "/2024-05-01 20.15.30.cmd"));
    EXPECT_TRUE(std::filesystem::exists(logs + "/2024-05-01 20.15.30.log"));
    EXPECT_TRUE(std::filesystem::exists(logs + "/notes.cmd.txt"));

    write("2024-05-01 20.30.00.cmd", std::string(start) + "CMD: End\n");
    EXPECT_EQ(files_.readCommands(logs), (Commands{"2024-05-01 20.30.00", "BID: com.blizzard.worldofwarcraft",
                                                   "CMD: Start", "CMD: End"}));
}

TEST(LogFilesWriterTest, ReceivesEveryLineOnceWhileAnotherProcessAppends) {
    TemporaryFolder folder;
    tavrin::SystemClock clock;
    LogFiles files(clock, MovieLocations([](std::string_view) { return std::nullopt; }));
    const std::string path = folder.file("2024-05-01 20.15.30.cmd");
    tavrin::testing::ChildProcess writer({"/bin/sh", "-c",
                                          "i=1; while [ $i -le 40 ]; do printf 'CMD: Line %d\\r\\n' $i >> "
                                          "\"$0\"; i=$((i+1)); sleep 0.05; done",
                                          path},
                                         {});
    ASSERT_TRUE(writer.started());

    Commands received;
    const auto poll = [&] {
        if (const auto commands = files.readCommands(folder.path())) {
            EXPECT_EQ(commands->front(), matchName);
            received.insert(received.end(), commands->begin() + 1, commands->end());
        }
    };
    while (writer.running()) {
        poll();
        std::this_thread::sleep_for(10ms);
    }
    poll();
    ASSERT_EQ(writer.wait(0ms), 0);
    ASSERT_EQ(received.size(), 40U);
    for (std::size_t index = 0; index < received.size(); ++index) {
        EXPECT_EQ(received[index], "CMD: Line " + std::to_string(index + 1));
    }
}

}  // namespace
}  // namespace vidora
