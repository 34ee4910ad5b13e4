#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TemporaryFolder.h"
#include "common/FileInputStream.h"
#include "common/FileOutputStream.h"

namespace tavrin {
namespace {

using testing::readFile;
using testing::writeFile;

TEST(FileOutputStreamTest, CreatesMissingFilesAndOnlyEverAppends) {
    testing::TemporaryFolder folder;
    const auto path = folder.file("match.srt");
    EXPECT_FALSE(FileOutputStream::open(""));
    EXPECT_FALSE(FileOutputStream::open(folder.file("missing/match.srt")));
    EXPECT_FALSE(FileOutputStream::open(folder.path()));
    auto stream = FileOutputStream::open(path);
    ASSERT_TRUE(stream);
    EXPECT_TRUE(std::filesystem::exists(path));
    stream->write("one\r\n");
    stream->write("");
    stream->write(std::string_view("a\0b", 3));  // bytes go out as they are
    stream->close();
    stream->write("after close");
    EXPECT_EQ(readFile(path), std::string("one\r\na\0b", 8));

    // Two writers open at once both write at the end current at each write; nothing is overwritten.
    writeFile(path, "head\n");
    auto early = FileOutputStream::open(path);
    auto late = FileOutputStream::open(path);
    ASSERT_TRUE(early && late);
    late->write("late\n");
    late->close();
    early->write("early\n");
    early->close();
    EXPECT_EQ(readFile(path), "head\nlate\nearly\n");
}

TEST(FileOutputStreamTest, AppendToFileIsVisibleToAReaderAtOnce) {
    testing::TemporaryFolder folder;
    const auto path = folder.file("match.cmd");
    appendToFile(path, "BID: com.blizzard.worldofwarcraft\r\n");
    auto reader = FileInputStream::open(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->readLine(), "BID: com.blizzard.worldofwarcraft\r\n");
    EXPECT_EQ(reader->readLine(), std::nullopt);
    appendToFile(path, "CMD: Start\r\n");
    EXPECT_EQ(reader->readLine(), "CMD: Start\r\n");

    appendToFile("", "CMD: End\r\n");
    appendToFile(folder.file("missing/match.cmd"), "CMD: End\r\n");
    EXPECT_EQ(readFile(path), "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\n");
    EXPECT_FALSE(std::filesystem::exists(folder.file("missing")));
}

}  // namespace
}  // namespace tavrin
