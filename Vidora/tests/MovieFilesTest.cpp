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
    const struct {
        std::string from, existing, to, expectedTo, expectedFrom;  // "" for no file
    } cases[] = {
        {"a.b.mp0", "", "a.b.mp4", "movie", ""},              // the last extension replaced
        {"bare", "", "bare.mp4", "movie", ""},                // one appended
        {"same.mp0", "first", "same.mp4", "first", "movie"},  // an earlier movie is never replaced
    };
    for (const auto& row : cases) {
        writeFile(folder.file(row.from), "movie");
        if (!row.existing.empty()) {
            writeFile(folder.file(row.to), row.existing);
        }
        changeExtension(folder.file(row.from), "mp4");
        EXPECT_EQ(readFile(folder.file(row.to)), row.expectedTo) << row.from;
        EXPECT_EQ(std::filesystem::exists(folder.file(row.from)) ? readFile(folder.file(row.from)) : "",
                  row.expectedFrom)
            << row.from;
    }
    changeExtension(folder.file("missing.mp0"), "mp4");
    EXPECT_FALSE(std::filesystem::exists(folder.file("missing.mp4")));
}

}  // namespace
}  // namespace vidora
