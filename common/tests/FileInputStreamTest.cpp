#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "TemporaryFolder.h"
#include "common/FileInputStream.h"

namespace tavrin {
namespace {

using testing::writeFile;

const std::string replacement = "\xEF\xBF\xBD";

class FileInputStreamTest : public ::testing::Test {
protected:
    std::optional<FileInputStream> openWith(const std::string& text, std::int64_t capacity = 4096) {
        writeFile(path, text);
        return FileInputStream::open(path, capacity);
    }
    testing::TemporaryFolder folder;
    const std::string path = folder.file("log.txt");
};

TEST_F(FileInputStreamTest, OpensOnlyExistingFilesWithRoomForOneByte) {
    EXPECT_FALSE(FileInputStream::open(""));
    EXPECT_FALSE(FileInputStream::open(folder.file("missing.txt")));
    // fgets with a one-byte buffer reads nothing forever.
    EXPECT_FALSE(openWith("x\n", 1));
    EXPECT_EQ(openWith("x\n", 2).value().readLine(), "x");
}

TEST_F(FileInputStreamTest, ReadLineSeesWhatIsAppendedAfterTheEnd) {
    auto stream = openWith("first\r\nsec").value();
    EXPECT_EQ(stream.readLine(), "first\r\n");
    EXPECT_EQ(stream.readLine(), "sec");
    EXPECT_EQ(stream.readLine(), std::nullopt);
    EXPECT_FALSE(stream.isEOF());
    // The end of file that fgets met is sticky in glibc; it must not hide what the game appends.
    writeFile(path, "ond\n", true);
    EXPECT_EQ(stream.readLine(), "ond\n");
    EXPECT_EQ(stream.size(), 10);  // as at opening
}

TEST_F(FileInputStreamTest, LinesComeInPiecesCutAtNulAndRepaired) {
    // A character split by the boundary of 4095-byte pieces, a NUL inside a line, a line only a NUL.
    const std::string split = std::string(4094, 'a') + "\xC3\xA9\n";
    const std::string withNul("ab\0cd\n", 6);
    auto stream = openWith(split + withNul + std::string("\0\n", 2) + "caf\xE9\n").value();
    EXPECT_EQ(stream.readLine(), std::string(4094, 'a') + replacement);
    EXPECT_EQ(stream.readLine(), replacement + "\n");
    EXPECT_EQ(stream.readLine(), "ab");  // the rest of the piece is consumed with it
    EXPECT_EQ(stream.readLine(), "");    // an empty text is a line, not the end
    EXPECT_EQ(stream.readLine(), "caf" + replacement + "\n");
    EXPECT_EQ(stream.readLine(), std::nullopt);

    // The raw pieces keep what lines cut and repair.
    EXPECT_TRUE(stream.seekToStart(0));
    EXPECT_EQ(stream.readPiece(), split.substr(0, 4095));
    EXPECT_EQ(stream.readPiece(), split.substr(4095));
    EXPECT_EQ(stream.readPiece(), withNul);
}

TEST_F(FileInputStreamTest, ReadsTakeWholeBuffersAndTheirEndIsFinal) {
    auto stream = openWith(std::string(9096, 'r')).value();
    EXPECT_EQ(stream.read(100).value().size(), 4096U);
    EXPECT_EQ(stream.read(5000).value().size(), 5000U);  // a larger count grows the buffer
    EXPECT_EQ(stream.read(1), std::nullopt);
    EXPECT_TRUE(stream.isEOF());
    // Unlike readLine's, this end holds even when the file grows or the stream seeks.
    writeFile(path, "more\n", true);
    EXPECT_TRUE(stream.seekToStart(0));
    EXPECT_EQ(stream.readAll(), std::nullopt);

    auto all = openWith("0123456789").value();
    writeFile(path, std::string(5000, 'g'), true);
    EXPECT_TRUE(all.seekToStart(4));
    EXPECT_EQ(all.readAll(), "456789" + std::string(4100, 'g'));  // at most the opening size + 4096
}

TEST_F(FileInputStreamTest, SizeAndPositionsUseSixtyFourBits) {
    constexpr std::int64_t fiveGiB = std::int64_t{5} << 30;
    writeFile(path, "");
    std::filesystem::resize_file(path, fiveGiB);  // sparse: no disk space is used
    writeFile(path, "tail\n", true);
    auto stream = FileInputStream::open(path).value();
    EXPECT_EQ(stream.size(), fiveGiB + 5);
    EXPECT_TRUE(stream.seekToEnd(-5));
    EXPECT_TRUE(stream.seek(2));
    EXPECT_EQ(stream.tell(), fiveGiB + 2);
    EXPECT_EQ(stream.readLine(), "il\n");
}

TEST_F(FileInputStreamTest, SharedLockIsHeldFromOpenToClose) {
    writeFile(path, "CMD: Start\n");
    // A second open file description, whose exclusive flock competes with the stream's.
    const int other = ::open(path.c_str(), O_RDONLY);
    const auto exclusiveIsFree = [other] {
        const bool free = ::flock(other, LOCK_EX | LOCK_NB) == 0;
        ::flock(other, LOCK_UN);
        return free;
    };
    auto locked = FileInputStream::open(path, 4096, FileInputStream::Lock::shared);
    EXPECT_FALSE(exclusiveIsFree());
    // The lock moves with the stream; the moved-from stream must not release it.
    FileInputStream moved = std::move(locked.value());
    locked.reset();
    EXPECT_FALSE(exclusiveIsFree());
    moved.close();
    EXPECT_TRUE(exclusiveIsFree());
    ::close(other);
}

}  // namespace
}  // namespace tavrin
