#include <gtest/gtest.h>

#include <filesystem>

#include "TemporaryFolder.h"
#include "capture/MovieFiles.h"

namespace vidora {
namespace {

using tavrin::testing::readFile;
using tavrin::testing::writeFile;

TEST(MovieFilesTest, RenamesOnlyWhenNothingIsInTheWay) {
    tavrin::testing::TemporaryFolder folder;
    writeFile(folder.file("a.b.mp0"), "movie");
    EXPECT_TRUE(changeExtension(folder.file("a.b.mp0"), "mp4"));  // only the last extension replaced
    EXPECT_EQ(readFile(folder.file("a.b.mp4")), "movie");
    EXPECT_FALSE(std::filesystem::exists(folder.file("a.b.mp0")));

    // An earlier movie of the same name is never replaced, and the failure is told.
    writeFile(folder.file("same.mp0"), "second");
    writeFile(folder.file("same.mp4"), "first");
    EXPECT_FALSE(changeExtension(folder.file("same.mp0"), "mp4"));
    EXPECT_EQ(readFile(folder.file("same.mp4")), "first");
    EXPECT_EQ(readFile(folder.file("same.mp0")), "second");
}

}  // namespace
}  // namespace vidora
