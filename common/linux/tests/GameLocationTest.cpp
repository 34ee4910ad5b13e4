#include <gtest/gtest.h>

#include <filesystem>

#include "FabricatedProc.h"
#include "GameLocation.h"

namespace tavrin {
namespace {

using testing::FabricatedProc;
using testing::gameWindowsPath;

std::string canonical(const std::string& path) {
    return std::filesystem::canonical(path).string();
}

class GameLocationTest : public ::testing::Test {
protected:
    std::optional<std::string> ofProcess(std::vector<std::string> environment,
                                         std::string workingDirectory = "",
                                         std::string word = std::string(gameWindowsPath)) {
        proc.add({.pid = 50,
                  .commandLine = {std::move(word)},
                  .environment = std::move(environment),
                  .workingDirectory = std::move(workingDirectory)});
        return gameExecutableOfProcess(ProcessTable(proc.root()), 50, proc.environment());
    }
    FabricatedProc proc;
};

TEST_F(GameLocationTest, MapsTheWindowsPathThroughThePrefixDrives) {
    const auto prefix =
        proc.makePrefix("lutris", "drive_c/program files (x86)/WORLD OF WARCRAFT/_retail_/WoW.exe");
    EXPECT_EQ(ofProcess({"WINEPREFIX=" + prefix}),
              canonical(prefix) + "/drive_c/program files (x86)/WORLD OF WARCRAFT/_retail_/WoW.exe");

    // A drive linked elsewhere, and the root drive Z:.
    std::filesystem::create_symlink(proc.home() + "/lutris/drive_c/program files (x86)",
                                    prefix + "/dosdevices/d:");
    EXPECT_EQ(windowsPathInPrefix("D:\\World of Warcraft\\_retail_\\Wow.exe", prefix),
              canonical(prefix) + "/drive_c/program files (x86)/WORLD OF WARCRAFT/_retail_/WoW.exe");
    std::filesystem::create_symlink("/", prefix + "/dosdevices/z:");
    std::string home = "z:" + proc.home() + "/LUTRIS/Drive_C";
    std::replace(home.begin(), home.end(), '/', '\\');
    EXPECT_EQ(windowsPathInPrefix(home, prefix), proc.home() + "/lutris/drive_c");

    EXPECT_EQ(windowsPathInPrefix("E:\\Wow.exe", prefix), std::nullopt);
    EXPECT_EQ(windowsPathInPrefix("C:\\World of Warcraft\\_retail_\\Wow.exe", prefix), std::nullopt);
    EXPECT_EQ(windowsPathInPrefix("C:", prefix), std::nullopt);
}

TEST_F(GameLocationTest, TakesTheDefaultPrefixWithoutAnAbsoluteWinePrefix) {
    const auto prefix = proc.makePrefix(".wine");
    const auto expected = canonical(prefix) + "/" + std::string(gameInPrefix);
    EXPECT_EQ(ofProcess({}), expected);
    EXPECT_EQ(ofProcess({"WINEPREFIX="}), expected);
    EXPECT_EQ(ofProcess({"WINEPREFIX=relative/pfx"}), expected);
    EXPECT_EQ(ofProcess({"WINEPREFIX=" + proc.home() + "/other"}), std::nullopt);
}

TEST_F(GameLocationTest, UsesALinuxPathAsItIsElseTheWorkingFolder) {
    const auto prefix = proc.makePrefix("steam/pfx");
    const auto file = prefix + "/" + std::string(gameInPrefix);
    EXPECT_EQ(ofProcess({}, "", file), file);

    // Without its drive link the Windows path leads nowhere; the working folder holds the game.
    const auto folder = std::filesystem::path(file).parent_path().string();
    std::filesystem::remove(prefix + "/dosdevices/c:");
    EXPECT_EQ(ofProcess({"WINEPREFIX=" + prefix}, folder), file);
    EXPECT_EQ(ofProcess({}, folder, "C:\\Games\\WOW.EXE"), folder + "/Wow.exe");
    EXPECT_EQ(ofProcess({}, folder, "/gone/Wow.exe"), folder + "/Wow.exe");
    EXPECT_EQ(ofProcess({}, proc.home(), "C:\\Games\\Wow.exe"), std::nullopt);
}

TEST_F(GameLocationTest, SearchesTheUsualPrefixesInOrder) {
    EXPECT_EQ(installedGameExecutable(proc.environment()), std::nullopt);
    auto found = [&](const std::string& prefix) { return prefix + "/" + std::string(gameInPrefix); };

    const auto steam = proc.makePrefix(".steam/steam/steamapps/compatdata/12/pfx");
    proc.makePrefix(".steam/steam/steamapps/compatdata/13/pfx");
    EXPECT_EQ(installedGameExecutable(proc.environment()), found(steam));
    const auto lutris = proc.makePrefix("Games/b-wow");
    EXPECT_EQ(installedGameExecutable(proc.environment()), found(lutris));
    EXPECT_EQ(installedGameExecutable(proc.environment()), found(proc.makePrefix("Games/a-wow")));
    const auto wine =
        proc.makePrefix(".wine", "drive_c/Program Files (x86)/world of warcraft/_retail_/Wow.exe");
    EXPECT_EQ(installedGameExecutable(proc.environment()),
              wine + "/drive_c/Program Files (x86)/world of warcraft/_retail_/Wow.exe");
    EXPECT_EQ(installedGameExecutable(proc.environment({{"WINEPREFIX", steam}})), found(steam));
    EXPECT_EQ(installedGameExecutable([&](std::string_view name) -> std::optional<std::string> {
                  return name == "WINEPREFIX" ? std::optional(lutris) : std::nullopt;
              }),
              found(lutris));
}

}  // namespace
}  // namespace tavrin
