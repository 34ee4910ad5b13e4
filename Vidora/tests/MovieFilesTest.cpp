#include <gtest/gtest.h>

#include <filesystem>

#include "TemporaryFolder.h"
#include "capture/MovieFiles.h"

namespace vidora {
namespace {

using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::writeFile;

TEST(MovieFilesTest, ReplacesTheLastExtensionOrAppendsOne) {
    TemporaryFolder folder;
    writeFile(folder.file("a.b.mp0"), "movie");
    changeExtension(folder.file("a.b.mp0"), "mp4");
    EXPECT_FALSE(std::filesystem::exists(folder.file("a.b.mp0")));
    EXPECT_EQ(readFile(folder.file("a.b.mp4")), "movie");

    writeFile(folder.file("bare"), "movie");
    changeExtension(folder.file("bare"), "mp4");
    EXPECT_EQ(readFile(folder.file("bare.mp4")), "movie");
    EXPECT_FALSE(std::filesystem::exists(folder.file("bare")));
}

TEST(MovieFilesTest, LeavesEverythingAsItWasWhenTheMoveCannotBeMade) {
    TemporaryFolder folder;
    changeExtension(folder.file("missing.mp0"), "mp4");
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));

    writeFile(folder.file("same second.mp0"), "second");
    writeFile(folder.file("same second.mp4"), "first");
    changeExtension(folder.file("same second.mp0"), "mp4");
    EXPECT_EQ(readFile(folder.file("same second.mp0")), "second");
    EXPECT_EQ(readFile(folder.file("same second.mp4")), "first");
}

}  // namespace
}  // namespace vidora
