// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <thread>

#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "common/StandardErrorLog.h"

namespace tavrin {
namespace {

using testing::readFile;

// 2025-03-07 21:04:07.042 local time, as the log writes it.
const std::string stamp = "2025-03-07 21:04:07.042 ";
Date stampedTime() {
    std::tm fields{7, 4, 21, 7, 2, 125, 0, 0, -1, 0, nullptr};
    return std::chrono::system_clock::from_time_t(std::mktime(&fields)) + std::chrono::milliseconds(42);
}

TEST(StandardErrorLog, CopiesWholeLinesWithTheirTimeAndMovesAFullFileAside) {
    testing::TemporaryFolder state;
    const std::string path = state.file("tavrin/Vidora.log");
    testing::ManualClock clock(stampedTime());
    {
        const StandardErrorLog log(path, clock, 100);
        std::clog << "Recording " << 1;
        // Another thread's line in between does not split the first one.
        std::thread([] { std::cerr << "Encoding video with libx265" << std::endl; }).join();
        std::clog << " begun" << std::endl;
        EXPECT_EQ(readFile(path), stamp + "Encoding video with libx265\n" + stamp + "Recording 1 begun\n");
        std::cerr << std::string(50, 'x') << std::endl;  // past 100 bytes: a new file
        EXPECT_EQ(readFile(path + ".1"),
                  stamp + "Encoding video with libx265\n" + stamp + "Recording 1 begun\n");
        EXPECT_EQ(readFile(path), stamp + std::string(50, 'x') + "\n");
    }
    std::clog << "after the log" << std::endl;
    EXPECT_EQ(readFile(path), stamp + std::string(50, 'x') + "\n");
}

// A file that cannot be opened is said once, and tried again a while later; the last lines of a thread
// and of the program, without a line feed, are not lost.
TEST(StandardErrorLog, AFileThatCannotBeOpenedIsSaidOnceAndTriedAgainAndNoUnendedLineIsLost) {
    testing::TemporaryFolder state;
    testing::writeFile(state.file("tavrin"), "a file where the folder should be");
    const std::string path = state.file("tavrin/Parlan.log");
    testing::ManualClock clock(stampedTime() - StandardErrorLog::reopenAfter);
    std::stringbuf errors;
    std::streambuf* const standardError = std::cerr.rdbuf(&errors);
    {
        const StandardErrorLog log(path, clock);
        std::clog << "lost to the file" << std::endl << "and this too" << std::endl;
        std::filesystem::remove(state.file("tavrin"));
        clock.advance(StandardErrorLog::reopenAfter);
        std::clog << "in the file again" << std::endl;
        std::thread([] { std::cerr << "a thread's last words"; }).join();
        std::clog << "the program's last words";
    }
    std::cerr.rdbuf(standardError);
    EXPECT_EQ(errors.str(),
              "The log file " + path +
                  " cannot be written (Not a directory); messages go to standard error alone "
                  "until it can.\nlost to the file\nand this too\nin the file again\na thread's "
                  "last words\nthe program's last words\n");
    EXPECT_EQ(readFile(path), stamp + "in the file again\n" + stamp + "a thread's last words\n" + stamp +
                                  "the program's last words\n");
}

}  // namespace
}  // namespace tavrin
