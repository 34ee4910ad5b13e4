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

class FileStreamTest : public ::testing::Test {
protected:
    testing::TemporaryFolder folder;
    const std::string path = folder.file("log.txt");
};

TEST_F(FileStreamTest, InputNeedsAnExistingFileAndRoomForOneByte) {
    EXPECT_FALSE(FileInputStream::open(""));
    EXPECT_FALSE(FileInputStream::open(path));
    writeFile(path, "x\n");
    // fgets with a one-byte buffer reads nothing forever.
    EXPECT_FALSE(FileInputStream::open(path, 1));
    EXPECT_EQ(FileInputStream::open(path, 2).value().readLine(), "x");
}

TEST_F(FileStreamTest, LinesComeInPiecesCutAtNulRepairedAndFollowTheGrowingFile) {
    // A character split by the boundary of 4095-byte pieces, a NUL inside a line, a line only a NUL.
    const std::string split = std::string(4094, 'a') + "\xC3\xA9\n", withNul("ab\0cd\n", 6),
                      bad = "\xEF\xBF\xBD";
    writeFile(path, split + withNul + std::string("\0\n", 2) + "caf\xE9\r\nsec");
    auto stream = FileInputStream::open(path).value();
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
    EXPECT_EQ(stream.size(), 4114);  // as at opening

    // The raw pieces keep what lines cut and repair.
    EXPECT_TRUE(stream.seekToStart(0));
    EXPECT_EQ(stream.readPiece(), split.substr(0, 4095));
    EXPECT_EQ(stream.readPiece(), split.substr(4095));
    EXPECT_EQ(stream.readPiece(), withNul);
}

TEST_F(FileStreamTest, SizesAndPositionsUseSixtyFourBits) {
    constexpr std::int64_t fiveGiB = std::int64_t{5} << 30;
    writeFile(path, "");
    std::filesystem::resize_file(path, fiveGiB);  // sparse: no disk space is used
    writeFile(path, "tail\n", true);
    auto stream = FileInputStream::open(path).value();
    EXPECT_EQ(stream.size(), fiveGiB + 5);
    EXPECT_TRUE(stream.seekToStart(fiveGiB + 2));
    EXPECT_EQ(stream.readLine(), "il\n");
    EXPECT_EQ(stream.tell(), fiveGiB + 5);
}

TEST_F(FileStreamTest, SharedLockIsHeldFromOpenToCloseAndMovesWithTheStream) {
    writeFile(path, "CMD: Start\n");
    // A second open file description, whose exclusive flock competes with the stream's.
    const int other = ::open(path.c_str(), O_RDONLY);
    const auto exclusiveIsFree = [other] {
        return ::flock(other, LOCK_EX | LOCK_NB) == 0 && ::flock(other, LOCK_UN) == 0;
    };
    auto locked = FileInputStream::open(path, 4096, FileInputStream::Lock::shared);
    EXPECT_FALSE(exclusiveIsFree());
    FileInputStream moved = std::move(locked.value());
    locked.reset();  // the moved-from stream must not release it
    EXPECT_FALSE(exclusiveIsFree());
    moved.close();
    EXPECT_TRUE(exclusiveIsFree());
    ::close(other);
}

TEST_F(FileStreamTest, OutputAppendsEachWriteAtTheEndAndDropsErrors) {
    EXPECT_FALSE(FileOutputStream::open(""));
    EXPECT_FALSE(FileOutputStream::open(folder.file("missing/match.srt")));
    // Two writers open at once: each write lands at the end current then; nothing is overwritten.
    auto early = FileOutputStream::open(path);
    auto late = FileOutputStream::open(path);
    ASSERT_TRUE(early && late);
    early->write(std::string_view("a\0b\n", 4));  // bytes go out as they are
    late->write("late\n");
    late->close();
    early->write("early\n");
    early->close();
    early->write("after close");
    // appendToFile closes at once, so a reader sees the text; a failing path is skipped.
    appendToFile(path, "CMD: End\r\n");
    appendToFile(folder.file("missing/match.cmd"), "CMD: End\r\n");
    EXPECT_EQ(readFile(path), std::string("late\na\0b\nearly\nCMD: End\r\n", 25));
    EXPECT_FALSE(std::filesystem::exists(folder.file("missing")));
}

}  // namespace
}  // namespace tavrin
