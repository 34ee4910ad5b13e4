// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <ctime>
#include <iostream>
#include <thread>

#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "common/StandardErrorLog.h"

namespace tavrin {
namespace {

using testing::readFile;

TEST(StandardErrorLog, CopiesWholeLinesWithTheirTimeAndMovesAFullFileAside) {
    testing::TemporaryFolder state;
    const std::string path = state.file("tavrin/Vidora.log");
    std::tm fields{7, 4, 21, 7, 2, 125, 0, 0, -1, 0, nullptr};
    testing::ManualClock clock(std::chrono::system_clock::from_time_t(std::mktime(&fields)) +
                               std::chrono::milliseconds(42));
    const std::string stamp = "2025-03-07 21:04:07.042 ";
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

}  // namespace
}  // namespace tavrin
