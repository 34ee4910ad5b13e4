#include <gtest/gtest.h>

#include "ApplicationIdentity.h"
#include "FabricatedProc.h"
#include "common/Workspace.h"

namespace tavrin {
namespace {

using testing::FabricatedProc;

std::optional<std::string> identifierOf(const testing::FakeProcess& process) {
    FabricatedProc proc;
    proc.add(process);
    const auto identity = identifyProcess(ProcessTable(proc.root()), process.pid);
    return identity ? std::optional(identity->identifier) : std::nullopt;
}

const std::string game(gameBundleIdentifier);

TEST(ApplicationIdentityTest, KnowsTheGameByItsFirstCommandWord) {
    const std::string wine = "/usr/lib/wine/wine64-preloader";
    EXPECT_EQ(
        identifierOf({.pid = 1, .commandLine = {std::string(testing::gameWindowsPath)}, .executable = wine}),
        game);
    EXPECT_EQ(identifierOf({.pid = 1, .commandLine = {"/home/a/Games/wow/_retail_/Wow.exe", "-launch"}}),
              game);
    EXPECT_EQ(identifierOf({.pid = 1, .commandLine = {"C:\\Games\\wow.exe"}, .comm = "wow.exe"}), game);
    EXPECT_EQ(identifierOf({.pid = 1, .commandLine = {"WOW.EXE"}, .comm = "x"}), game);
    for (const char* other :
         {"C:\\Games\\WowClassic.exe", "/games/Wow.exe.bak", "/games/Wow.exe/run", "wine"}) {
        EXPECT_EQ(identifierOf({.pid = 1, .commandLine = {other}, .comm = "x"}), std::nullopt) << other;
    }
    // Only the first word counts: a launcher naming the game is not the game.
    EXPECT_EQ(identifierOf({.pid = 1, .commandLine = {"wine", "C:\\Wow.exe"}, .comm = "wine"}), std::nullopt);

    FabricatedProc proc;
    proc.add({.pid = 9, .commandLine = {std::string(testing::gameWindowsPath)}, .executable = wine});
    EXPECT_EQ(identifyProcess(ProcessTable(proc.root()), 9)->name, "Wow.exe");
}

TEST(ApplicationIdentityTest, KnowsOurProgramsAndDiscord) {
    EXPECT_EQ(identifierOf({.pid = 1, .executable = "/opt/tavrin/Parlan"}), proxyBundleIdentifier);
    EXPECT_EQ(identifierOf({.pid = 1, .executable = "/opt/tavrin/Vidora"}), recorderBundleIdentifier);
    EXPECT_EQ(identifierOf({.pid = 1, .comm = "Parlan"}), proxyBundleIdentifier);  // another user's copy
    EXPECT_EQ(identifierOf({.pid = 1, .executable = "/opt/parlan"}), std::nullopt);
    // Our own program comes first, whatever it names itself.
    EXPECT_EQ(identifierOf({.pid = 1, .commandLine = {"Wow.exe"}, .executable = "/opt/Vidora"}),
              recorderBundleIdentifier);

    EXPECT_EQ(identifierOf({.pid = 1, .executable = "/usr/share/discord/Discord"}), discordBundleIdentifier);
    EXPECT_EQ(identifierOf({.pid = 1, .executable = "/opt/discord/discord"}), discordBundleIdentifier);
    EXPECT_EQ(identifierOf({.pid = 1,
                            .executable = "/app/bin/electron",
                            .flatpakInfo = "[Application]\nname=com.discordapp.Discord\n"}),
              discordBundleIdentifier);
    EXPECT_EQ(identifierOf({.pid = 1,
                            .executable = "/app/bin/electron",
                            .flatpakInfo = "[Application]\nname=org.example.Chat\n"}),
              std::nullopt);
    EXPECT_EQ(identifierOf({.pid = 1, .executable = "/usr/bin/DISCORD"}), std::nullopt);
}

}  // namespace
}  // namespace tavrin
