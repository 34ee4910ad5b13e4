// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "TemporaryFolder.h"
#include "capture/MovieFiles.h"

namespace vidora {
namespace {

using tavrin::testing::readFile;
using tavrin::testing::writeFile;

// A network or FUSE mount that knows neither RENAME_NOREPLACE nor hard links.
int unsupportedRename(const char*, const char*) {
    errno = EINVAL;
    return -1;
}
int unsupportedLink(const char*, const char*) {
    errno = EPERM;
    return -1;
}
const FileSystemCalls bareFileSystem{unsupportedRename, unsupportedLink, ::rename, ::unlink};

class MovieFilesTest : public ::testing::TestWithParam<const FileSystemCalls*> {};

TEST_P(MovieFilesTest, RenamesOnlyWhenNothingIsInTheWay) {
    const FileSystemCalls& calls = *GetParam();
    tavrin::testing::TemporaryFolder folder;
    writeFile(folder.file("a.b.mp0"), "movie");
    EXPECT_TRUE(changeExtension(folder.file("a.b.mp0"), "mp4", calls));  // only the last extension replaced
    EXPECT_EQ(readFile(folder.file("a.b.mp4")), "movie");
    EXPECT_FALSE(std::filesystem::exists(folder.file("a.b.mp0")));

    // An earlier movie of the same name is never replaced, and the failure is told.
    writeFile(folder.file("same.mp0"), "second");
    writeFile(folder.file("same.mp4"), "first");
    EXPECT_FALSE(changeExtension(folder.file("same.mp0"), "mp4", calls));
    EXPECT_EQ(readFile(folder.file("same.mp4")), "first");
    EXPECT_EQ(readFile(folder.file("same.mp0")), "second");
}

INSTANTIATE_TEST_SUITE_P(FileSystems, MovieFilesTest,
                         ::testing::Values(&FileSystemCalls::system(), &bareFileSystem));

// In a folder two users share, the lock file one of them made (0644) is the other's to lock too.
TEST(FolderLockTest, AnotherUsersLockFileIsLockedAllTheSame) {
    tavrin::testing::TemporaryFolder folder;
    std::filesystem::permissions(folder.path(), std::filesystem::perms::all);
    const auto taken = [&] {
        return FolderLock::take(folder.path(), FolderLock::Holder::recording).has_value();
    };
    ASSERT_TRUE(taken());    // made by this user
    if (::geteuid() != 0) {  // not writable for this user, as another user's is not
        std::filesystem::permissions(folder.file(".recording.lock"), std::filesystem::perms::owner_read);
        EXPECT_TRUE(taken());
        return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && taken() ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace vidora
