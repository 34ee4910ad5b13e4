#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "TemporaryFolder.h"
#include "common/Folders.h"

namespace tavrin {
namespace {

using testing::TemporaryFolder;
using testing::writeFile;

Environment fakeEnvironment(std::map<std::string, std::string, std::less<>> variables) {
    return [variables = std::move(variables)](std::string_view name) -> std::optional<std::string> {
        const auto found = variables.find(name);
        return found == variables.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
}

// A user-dirs.dirs of its own under a fresh XDG_CONFIG_HOME.
class FoldersTest : public ::testing::Test {
protected:
    Environment withUserDirs(const std::string& text) {
        writeFile(config.file("user-dirs.dirs"), text);
        return fakeEnvironment({{"HOME", "/home/ana"}, {"XDG_CONFIG_HOME", config.path()}});
    }
    TemporaryFolder config;
};

TEST_F(FoldersTest, FallsBackToFoldersUnderHomeAndNeedsHome) {
    const auto environment = fakeEnvironment({{"HOME", "/home/ana"}, {"XDG_CONFIG_HOME", config.path()}});
    EXPECT_EQ(getMoviesPath("/TavrinMovies/.logs/", environment), "/home/ana/Videos/TavrinMovies/.logs/");
    EXPECT_EQ(getMoviesPath("", environment), "/home/ana/Videos");
    EXPECT_EQ(getDownloadsPath("/TavrinRecorder.zip", environment), "/home/ana/Downloads/TavrinRecorder.zip");
    EXPECT_EQ(
        getMoviesPath("/x", fakeEnvironment({{"HOME", "/home/ana/"}, {"XDG_CONFIG_HOME", config.path()}})),
        "/home/ana/Videos/x");

    // An absolute folder in user-dirs.dirs does not stand in for a missing home.
    writeFile(config.file("user-dirs.dirs"), "XDG_VIDEOS_DIR=\"/srv/videos\"\n");
    EXPECT_EQ(getMoviesPath("/x", fakeEnvironment({{"XDG_CONFIG_HOME", config.path()}})), std::nullopt);
    EXPECT_EQ(getMoviesPath("/x", fakeEnvironment({{"HOME", ""}, {"XDG_CONFIG_HOME", config.path()}})),
              std::nullopt);
    EXPECT_EQ(getDownloadsPath("/x", fakeEnvironment({})), std::nullopt);
}

TEST_F(FoldersTest, ReadsTheLastUsableLineOfUserDirs) {
    const auto environment = withUserDirs(
        "# XDG_VIDEOS_DIR=\"/commented/out\"\n"
        "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n"
        "XDG_VIDEOS_DIR=\"$HOME/Old\"\n"
        "  XDG_VIDEOS_DIR=\"$HOME/My Films/\"\r\n"
        "XDG_VIDEOS_DIRS=\"/not/this\"\n"
        "XDG_VIDEOS_DIR =\"/nor/this\"\n");
    EXPECT_EQ(getMoviesPath("/TavrinMovies/", environment), "/home/ana/My Films/TavrinMovies/");
    EXPECT_EQ(getDownloadsPath("/a.zip", environment), "/home/ana/Fetched/a.zip");
}

TEST_F(FoldersTest, TakesAbsoluteFoldersAndIgnoresRelativeOnes) {
    EXPECT_EQ(getMoviesPath("/x", withUserDirs("XDG_VIDEOS_DIR=/srv/media/videos\n")), "/srv/media/videos/x");
    EXPECT_EQ(getMoviesPath("/x", withUserDirs("XDG_VIDEOS_DIR=\"/srv/media\"\n")), "/srv/media/x");
    EXPECT_EQ(getMoviesPath("/x", withUserDirs("XDG_VIDEOS_DIR=\"Videos2\"\n")), "/home/ana/Videos/x");
    EXPECT_EQ(getMoviesPath("/x", withUserDirs("XDG_VIDEOS_DIR=\"\"\n")), "/home/ana/Videos/x");
}

TEST_F(FoldersTest, UserDirsDefaultToTheConfigFolderUnderHome) {
    TemporaryFolder home;
    std::filesystem::create_directories(home.file(".config"));
    writeFile(home.file(".config/user-dirs.dirs"), "XDG_VIDEOS_DIR=\"$HOME/Clips\"\n");
    // A relative XDG_CONFIG_HOME is invalid and is passed over like an unset one.
    for (const auto& environment : {fakeEnvironment({{"HOME", home.path()}}),
                                    fakeEnvironment({{"HOME", home.path()}, {"XDG_CONFIG_HOME", ""}}),
                                    fakeEnvironment({{"HOME", home.path()}, {"XDG_CONFIG_HOME", "cfg"}})}) {
        EXPECT_EQ(getMoviesPath("/m", environment), home.path() + "/Clips/m");
    }
}

TEST_F(FoldersTest, CreateDirectoryMakesParentsAndIgnoresWhatIsThere) {
    const auto nested = config.file("Videos/TavrinMovies/.logs");
    createDirectory(nested);
    EXPECT_TRUE(std::filesystem::is_directory(nested));
    writeFile(nested + "/kept.log", "x");
    createDirectory(nested + "/");
    EXPECT_TRUE(std::filesystem::exists(nested + "/kept.log"));

    // A file in the way stays a file; nothing is thrown.
    writeFile(config.file("plain"), "x");
    createDirectory(config.file("plain/below"));
    createDirectory("");
    EXPECT_TRUE(std::filesystem::is_regular_file(config.file("plain")));
}

}  // namespace
}  // namespace tavrin
