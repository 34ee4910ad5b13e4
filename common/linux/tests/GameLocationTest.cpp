#include <gtest/gtest.h>

#include <filesystem>

#include "FabricatedProc.h"
#include "GameLocation.h"

namespace tavrin {
namespace {

using testing::gameWindowsPath;

std::string canonical(const std::string& path) {
    return std::filesystem::canonical(path).string();
}

TEST(GameLocationTest, MapsTheWindowsPathThroughThePrefixDrivesIgnoringCase) {
    testing::FabricatedProc proc;
    const std::string relative = "drive_c/program files (x86)/WORLD OF WARCRAFT/_retail_/WoW.exe";
    const auto prefix = proc.makePrefix("lutris", relative);
    EXPECT_EQ(windowsPathInPrefix(gameWindowsPath, prefix), canonical(prefix) + "/" + relative);
    // The root drive Z: gives no "//".
    std::filesystem::create_symlink("/", prefix + "/dosdevices/z:");
    std::string home = "z:" + proc.home() + "/LUTRIS/Drive_C";
    std::replace(home.begin(), home.end(), '/', '\\');
    EXPECT_EQ(windowsPathInPrefix(home, prefix), proc.home() + "/lutris/drive_c");
    for (const char* missing : {"E:\\Wow.exe", "C:\\World of Warcraft\\_retail_\\Wow.exe", "C:"}) {
        EXPECT_EQ(windowsPathInPrefix(missing, prefix), std::nullopt) << missing;
    }
}

TEST(GameLocationTest, FindsTheExecutableOfAGameProcess) {
    testing::FabricatedProc proc;
    const auto inDefault = canonical(proc.makePrefix(".wine")) + "/" + std::string(gameInPrefix);
    const auto folder = std::filesystem::path(inDefault).parent_path().string();
    const std::string windows(gameWindowsPath);
    const struct {
        std::vector<std::string> environment;
        std::string workingDirectory, word;
        std::optional<std::string> expected;
    } cases[] = {
        // Without an absolute WINEPREFIX the default prefix ~/.wine.
        {{}, "", windows, inDefault},
        {{"WINEPREFIX=relative/pfx"}, "", windows, inDefault},
        {{"WINEPREFIX=" + proc.home() + "/other"}, "", windows, std::nullopt},
        // A Linux path as it is; else the executable's name in the working folder.
        {{}, "", inDefault, inDefault},
        {{"WINEPREFIX=" + proc.home() + "/other"}, folder, windows, folder + "/Wow.exe"},
        {{}, folder, "C:\\Games\\WOW.EXE", folder + "/Wow.exe"},
        {{}, folder, "/gone/Wow.exe", folder + "/Wow.exe"},
        {{}, proc.home(), "C:\\Games\\Wow.exe", std::nullopt},
    };
    for (const auto& [env, cwd, word, expected] : cases) {
        proc.add({.pid = 50, .commandLine = {word}, .environment = env, .workingDirectory = cwd});
        EXPECT_EQ(gameExecutableOfProcess(ProcessTable(proc.root()), 50, proc.environment()), expected)
            << word << " in " << cwd;
    }
}

TEST(GameLocationTest, SearchesTheUsualPrefixesInOrder) {
    testing::FabricatedProc proc;
    const auto installed = [&] { return installedGameExecutable(proc.environment()); };
    const auto found = [](const std::string& prefix) { return prefix + "/" + std::string(gameInPrefix); };
    EXPECT_EQ(installed(), std::nullopt);
    const auto steam = proc.makePrefix(".steam/steam/steamapps/compatdata/12/pfx");
    EXPECT_EQ(installed(), found(steam));
    proc.makePrefix("Games/b-wow");
    const auto games = proc.makePrefix("Games/a-wow");
    EXPECT_EQ(installed(), found(games));
    EXPECT_EQ(installed(), found(proc.makePrefix(".wine")));
    EXPECT_EQ(installedGameExecutable(proc.environment({{"WINEPREFIX", steam}})), found(steam));
}

}  // namespace
}  // namespace tavrin
