#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TemporaryFolder.h"
#include "common/FileOutputStream.h"

namespace tavrin {
namespace {

using testing::readFile;

TEST(FileOutputStreamTest, CreatesMissingFilesAppendsAtEachWriteAndDropsErrors) {
    testing::TemporaryFolder folder;
    const auto path = folder.file("match.srt");
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
    EXPECT_EQ(readFile(path), std::string("late\na\0b\nearly\n", 15));

    // appendToFile closes at once, so a reader sees the text; a failing path is skipped.
    appendToFile(path, "CMD: End\r\n");
    appendToFile(folder.file("missing/match.cmd"), "CMD: End\r\n");
    EXPECT_EQ(readFile(path), std::string("late\na\0b\nearly\nCMD: End\r\n", 25));
    EXPECT_FALSE(std::filesystem::exists(folder.file("missing")));
}

}  // namespace
}  // namespace tavrin
