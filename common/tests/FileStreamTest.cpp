// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "TemporaryFolder.h"
#include "common/FileInputStream.h"
#include "common/FileOutputStream.h"

namespace tavrin {
namespace {

using testing::readFile;
using testing::writeFile;

TEST(FileStreamTest, InputReadsRepairedPiecesOfAGrowingFileOfAnySize) {
    const testing::TemporaryFolder folder;
    const std::string path = folder.file("log.txt");
    EXPECT_FALSE(FileInputStream::open(path));
    // A character split by the boundary of 4095-byte pieces, a NUL inside a line, a line only a NUL.
    const std::string split = std::string(4094, 'a') + "\xC3\xA9\n", withNul("ab\0cd\n", 6),
                      bad = "\xEF\xBF\xBD";
    writeFile(path, split + withNul + std::string("\0\n", 2) + "caf\xE9\r\nsec");
    // fgets with a one-byte buffer reads nothing forever.
    EXPECT_FALSE(FileInputStream::open(path, 1));
    // A shared flock, competing with an exclusive one on a second open file description, is held from
    // open to close; the emptied optional it was moved out of must not release it.
    const int other = ::open(path.c_str(), O_RDONLY);
    auto stream = FileInputStream::open(path, 2, FileInputStream::Lock::shared).value();
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(stream.readLine(), "a");
    stream.close();
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
    stream = FileInputStream::open(path).value();
    EXPECT_EQ(stream.readLine(), std::string(4094, 'a') + bad);
    EXPECT_EQ(stream.readLine(), bad + "\n");
    EXPECT_EQ(stream.readLine(), "ab");  // the rest of the piece is consumed with it
    EXPECT_EQ(stream.readLine(), "");    // an empty text is a line, not the end
    EXPECT_EQ(stream.readLine(), "caf" + bad + "\r\n");
    EXPECT_EQ(stream.readLine(), "sec");
    EXPECT_EQ(stream.readLine(), std::nullopt);
    // The end of file that fgets met is sticky in glibc; it must not hide what the game appends.
    writeFile(path, "ond\n", true);
    EXPECT_EQ(stream.readLine(), "ond\n");
    // The raw piece keeps the NUL and what follows it.
    EXPECT_TRUE(stream.seekToStart(std::ssize(split)));
    EXPECT_EQ(stream.readPiece(), withNul);

    // Sizes and positions of 64 bits; a sparse file uses no disk space.
    constexpr std::int64_t fiveGiB = std::int64_t{5} << 30;
    std::filesystem::resize_file(path, fiveGiB);
    writeFile(path, "tail\n", true);
    stream = FileInputStream::open(path).value();
    EXPECT_EQ(stream.size(), fiveGiB + 5);
    EXPECT_TRUE(stream.seekToStart(fiveGiB + 2));
    EXPECT_EQ(stream.readLine(), "il\n");
    EXPECT_EQ(stream.tell(), fiveGiB + 5);
}

TEST(FileStreamTest, AppendToFileAddsTheBytesAtTheEndAndSkipsAFailingPath) {
    const testing::TemporaryFolder folder;
    const std::string path = folder.file("log.txt");
    writeFile(path, "CMD: Start\r\n");
    appendToFile(path, std::string_view("a\0b\n", 4));
    appendToFile(folder.file("missing/match.cmd"), "CMD: End\r\n");
    EXPECT_EQ(readFile(path), std::string("CMD: Start\r\na\0b\n", 16));
    EXPECT_FALSE(std::filesystem::exists(folder.file("missing")));
}

}  // namespace
}  // namespace tavrin
