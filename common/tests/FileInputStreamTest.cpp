#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "TemporaryFolder.h"
#include "common/FileInputStream.h"

namespace tavrin {
namespace {

using Lock = FileInputStream::Lock;
using testing::writeFile;

const std::string replacement = "\xEF\xBF\xBD";

// A second open file description on the file, so its flock competes with the stream's.
class OtherDescriptor {
public:
    explicit OtherDescriptor(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY)) {}
    ~OtherDescriptor() { ::close(fd_); }
    bool tryLock(int operation) { return ::flock(fd_, operation | LOCK_NB) == 0; }
    void unlock() { ::flock(fd_, LOCK_UN); }

private:
    int fd_;
};

// True when /proc/locks lists a blocked flock waiter on the file.
bool hasBlockedFlock(const std::string& path) {
    struct stat attributes {};
    ::stat(path.c_str(), &attributes);
    const std::string tag = ":" + std::to_string(attributes.st_ino) + " ";
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        if (line.find("-> FLOCK") != std::string::npos && line.find(tag) != std::string::npos) {
            return true;
        }
    }
    return false;
}

class FileInputStreamTest : public ::testing::Test {
protected:
    std::optional<FileInputStream> openWith(const std::string& text, std::int64_t capacity = 4096,
                                            Lock lock = Lock::none) {
        writeFile(path, text);
        return FileInputStream::open(path, capacity, lock);
    }
    testing::TemporaryFolder folder;
    const std::string path = folder.file("log.txt");
};

TEST_F(FileInputStreamTest, OpensOnlyExistingFilesWithRoomForOneByte) {
    EXPECT_FALSE(FileInputStream::open(""));
    EXPECT_FALSE(FileInputStream::open(folder.file("missing.txt")));
    EXPECT_FALSE(FileInputStream::open(folder.file("missing.txt"), 4096, Lock::shared));
    // fgets with a one-byte buffer reads nothing forever.
    EXPECT_FALSE(openWith("x\n", 1));
    EXPECT_FALSE(openWith("x\n", 0));
    auto tiny = openWith("x\n", 2);
    ASSERT_TRUE(tiny);
    EXPECT_EQ(tiny->readLine(), "x");
    EXPECT_EQ(tiny->readLine(), "\n");
    EXPECT_EQ(tiny->readLine(), std::nullopt);
}

TEST_F(FileInputStreamTest, ReadLineFollowsAGrowingFile) {
    auto stream = openWith("first\r\nsecond");
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->readLine(), "first\r\n");
    EXPECT_EQ(stream->readLine(), "second");
    EXPECT_EQ(stream->readLine(), std::nullopt);
    EXPECT_EQ(stream->readLine(), std::nullopt);
    EXPECT_FALSE(stream->isEOF());
    // The end of file that fgets met must not hide what the game appends later.
    writeFile(path, " half\nthird\n", true);
    EXPECT_EQ(stream->readLine(), " half\n");
    EXPECT_EQ(stream->readLine(), "third\n");
    EXPECT_EQ(stream->readLine(), std::nullopt);
    EXPECT_EQ(stream->size(), 13);
}

TEST_F(FileInputStreamTest, LongLinesComeInPiecesOfCapacityLessOne) {
    const std::string fits = std::string(4094, 'z') + "\n";
    auto stream = openWith(std::string(5000, 'x') + "\n" + std::string(4095, 'y') + "\n" + fits);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->readLine(), std::string(4095, 'x'));
    EXPECT_EQ(stream->readLine(), std::string(905, 'x') + "\n");
    EXPECT_EQ(stream->readLine(), std::string(4095, 'y'));
    EXPECT_EQ(stream->readLine(), "\n");
    EXPECT_EQ(stream->readLine(), fits);
    EXPECT_EQ(stream->readLine(), std::nullopt);
}

TEST_F(FileInputStreamTest, PiecesKeepRawBytesThatLinesCutAndRepair) {
    // A two-byte character split by the piece boundary, a NUL inside a line, a line that is only a NUL.
    const std::string split = std::string(4094, 'a') + "\xC3\xA9\n";
    const std::string withNul("ab\0cd\n", 6);
    auto stream = openWith(split + withNul + std::string("\0\n", 2) + "caf\xE9\n");
    ASSERT_TRUE(stream);
    std::string joined(stream->readPiece().value());
    EXPECT_EQ(joined.size(), 4095U);
    joined += stream->readPiece().value();
    EXPECT_EQ(joined, split);
    EXPECT_EQ(stream->readPiece(), withNul);

    ASSERT_TRUE(stream->seekToStart(0));
    EXPECT_EQ(stream->readLine(), std::string(4094, 'a') + replacement);
    EXPECT_EQ(stream->readLine(), replacement + "\n");
    EXPECT_EQ(stream->readLine(), "ab");  // the rest of the piece is consumed with it
    EXPECT_EQ(stream->readLine(), "");    // an empty text is a line, not the end
    EXPECT_EQ(stream->readLine(), "caf" + replacement + "\n");
    EXPECT_EQ(stream->readLine(), std::nullopt);
}

TEST_F(FileInputStreamTest, ReadTakesTheBufferCountAndItsEndIsFinal) {
    auto small = openWith(std::string("ab\0cdefghijklmnopq", 18), 16);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->read(100), "ab");  // cut at the NUL, yet all 16 bytes are consumed
    EXPECT_EQ(small->tell(), 16);

    auto stream = openWith(std::string(6000, 'r'));
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->read(100).value().size(), 4096U);
    EXPECT_EQ(stream->read(5000).value().size(), 1904U);
    EXPECT_EQ(stream->read(100), std::nullopt);
    EXPECT_TRUE(stream->isEOF());
    // Unlike readLine, the end seen by read holds even when the file grows or the stream seeks.
    writeFile(path, "more\n", true);
    EXPECT_TRUE(stream->seekToStart(0));
    EXPECT_EQ(stream->readLine(), std::nullopt);
    EXPECT_EQ(stream->read(100), std::nullopt);
    EXPECT_EQ(stream->readAll(), std::nullopt);
}

TEST_F(FileInputStreamTest, ReadAllReadsTheRestUpToTheOpeningSizeAndMore) {
    auto stream = openWith("0123456789");
    ASSERT_TRUE(stream);
    ASSERT_TRUE(stream->seekToStart(4));
    EXPECT_EQ(stream->readAll(), "456789");
    EXPECT_EQ(stream->readAll(), std::nullopt);
    EXPECT_TRUE(stream->isEOF());

    auto grown = FileInputStream::open(path);
    ASSERT_TRUE(grown);
    writeFile(path, std::string(5000, 'g'), true);
    EXPECT_EQ(grown->size(), 10);
    EXPECT_EQ(grown->readAll().value().size(), 10U + 4096U);
}

TEST_F(FileInputStreamTest, SizeAndPositionsUseSixtyFourBits) {
    constexpr std::int64_t fiveGiB = std::int64_t{5} << 30;
    writeFile(path, "head\n");
    std::filesystem::resize_file(path, fiveGiB);  // sparse: no disk space is used
    writeFile(path, "tail\n", true);
    auto stream = FileInputStream::open(path);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->size(), fiveGiB + 5);
    EXPECT_EQ(stream->readLine(), "head\n");
    EXPECT_TRUE(stream->seekToEnd(-5));
    EXPECT_EQ(stream->tell(), fiveGiB);
    EXPECT_EQ(stream->readLine(), "tail\n");
    EXPECT_TRUE(stream->seek(-3));
    EXPECT_FALSE(stream->seekToStart(-1));
    EXPECT_FALSE(stream->seek(-fiveGiB - 10));
    EXPECT_EQ(stream->tell(), fiveGiB + 2);
}

TEST_F(FileInputStreamTest, SharedLockIsHeldFromOpenToClose) {
    auto unlocked = openWith("CMD: Start\n");
    ASSERT_TRUE(unlocked);
    OtherDescriptor other(path);
    ASSERT_TRUE(other.tryLock(LOCK_EX));
    other.unlock();

    auto locked = FileInputStream::open(path, 4096, Lock::shared);
    ASSERT_TRUE(locked);
    EXPECT_FALSE(other.tryLock(LOCK_EX));
    EXPECT_TRUE(other.tryLock(LOCK_SH));  // readers do not exclude each other
    other.unlock();
    // The lock moves with the stream; the moved-from stream must not release it.
    FileInputStream moved = std::move(*locked);
    locked.reset();
    EXPECT_FALSE(other.tryLock(LOCK_EX));
    EXPECT_EQ(moved.readLine(), "CMD: Start\n");
    moved.close();
    EXPECT_TRUE(other.tryLock(LOCK_EX));
}

TEST_F(FileInputStreamTest, SharedOpenWaitsForAnExclusiveLock) {
    writeFile(path, "CMD: End\n");
    if (!std::ifstream("/proc/locks")) {
        GTEST_SKIP() << "no /proc/locks to see the waiter";
    }
    OtherDescriptor writer(path);
    ASSERT_TRUE(writer.tryLock(LOCK_EX));
    std::atomic<bool> opened = false;
    std::optional<FileInputStream> stream;
    std::thread reader([&] {
        stream = FileInputStream::open(path, 4096, Lock::shared);
        opened = true;
    });
    // Either the reader shows up as a blocked waiter, or it wrongly got past the exclusive lock.
    while (!opened && !hasBlockedFlock(path)) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(opened);
    writer.unlock();
    reader.join();
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->readLine(), "CMD: End\n");
}

}  // namespace
}  // namespace tavrin
