// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <map>

#include "TemporaryFolder.h"
#include "common/Folders.h"

namespace tavrin {
namespace {

using testing::writeFile;

TEST(FoldersTest, ReadsTheLastUsableLineOfUserDirsElseFallsBackUnderHome) {
    testing::TemporaryFolder config;
    const std::string userDirs = config.file("user-dirs.dirs");
    std::map<std::string, std::string, std::less<>> variables{{"HOME", "/home/ana/"},
                                                              {"XDG_CONFIG_HOME", config.path()}};
    const Environment environment = [&variables](std::string_view name) -> std::optional<std::string> {
        const auto found = variables.find(name);
        return found == variables.end() ? std::nullopt : std::optional(found->second);
    };
    writeFile(userDirs,
              "# XDG_VIDEOS_DIR=\"/commented/out\"\n"
              "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n"
              "XDG_VIDEOS_DIR=\"$HOME/Old\"\n"
              "  XDG_VIDEOS_DIR=\"$HOME/My Films/\"\r\n"
              "XDG_VIDEOS_DIRS=\"/not/this\"\n"
              "XDG_VIDEOS_DIR =\"/nor/this\"\n");
    EXPECT_EQ(getMoviesPath("/TavrinMovies/", environment), "/home/ana/My Films/TavrinMovies/");
    EXPECT_EQ(getDownloadsPath("/a.zip", environment), "/home/ana/Fetched/a.zip");
    // Absolute folders are taken with or without quotes; relative and empty ones fall back under HOME.
    for (const auto& [text, expected] :
         {std::pair{"XDG_VIDEOS_DIR=/srv/media/videos\n", "/srv/media/videos/x"},
          {"XDG_VIDEOS_DIR=\"Videos2\"\n", "/home/ana/Videos/x"},
          {"XDG_VIDEOS_DIR=\"\"\n", "/home/ana/Videos/x"}}) {
        writeFile(userDirs, text);
        EXPECT_EQ(getMoviesPath("/x", environment), expected) << text;
    }
    EXPECT_EQ(getDownloadsPath("", environment), "/home/ana/Downloads");
    // An absolute folder in user-dirs.dirs does not stand in for a missing home.
    writeFile(userDirs, "XDG_VIDEOS_DIR=\"/srv/videos\"\n");
    variables["HOME"] = "";
    EXPECT_EQ(getMoviesPath("/x", environment), std::nullopt);

    // Without XDG_CONFIG_HOME, user-dirs.dirs is read from the config folder under HOME.
    const std::string home = config.file("ana");
    createDirectory(home + "/.config");                    // with its parents
    createDirectory(config.file("user-dirs.dirs/below"));  // a file in the way: nothing is thrown
    writeFile(home + "/.config/user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Clips\"\n");
    variables = {{"HOME", home}};
    EXPECT_EQ(getMoviesPath("/m", environment), home + "/Clips/m");
    // The state folder: XDG_STATE_HOME only when absolute.
    variables["XDG_STATE_HOME"] = "state";
    EXPECT_EQ(getStatePath("/tavrin", environment), home + "/.local/state/tavrin");
    variables["XDG_STATE_HOME"] = "/var/state";
    EXPECT_EQ(getStatePath("/tavrin", environment), "/var/state/tavrin");
}

}  // namespace
}  // namespace tavrin
