#include <gtest/gtest.h>

#include "ApplicationIdentity.h"
#include "FabricatedProc.h"
#include "common/Workspace.h"

namespace tavrin {
namespace {

using testing::FakeProcess;

TEST(ApplicationIdentityTest, TellsOurProgramsTheGameAndDiscordApart) {
    const std::string game(gameBundleIdentifier), proxy(proxyBundleIdentifier),
        recorder(recorderBundleIdentifier), discord(discordBundleIdentifier);
    const std::string wine = "/usr/lib/wine/wine64-preloader", electron = "/app/bin/electron";
    const std::pair<FakeProcess, std::optional<std::string>> cases[] = {
        // The game by the file name of its first command word, in any letter case.
        {{.commandLine = {std::string(testing::gameWindowsPath)}, .executable = wine}, game},
        {{.commandLine = {"/home/a/Games/wow/_retail_/Wow.exe", "-launch"}}, game},
        {{.commandLine = {"WOW.EXE"}, .comm = "x"}, game},
        {{.commandLine = {"C:\\Games\\WowClassic.exe"}, .executable = wine}, std::nullopt},
        {{.commandLine = {"/games/Wow.exe.bak"}}, std::nullopt},
        {{.commandLine = {"wine", "C:\\Wow.exe"}, .comm = "wine"}, std::nullopt},  // a launcher naming it
        // Our programs by executable name, comm when the exe link is unreadable; before any other rule.
        {{.executable = "/opt/tavrin/Parlan"}, proxy},
        {{.comm = "Parlan"}, proxy},
        {{.commandLine = {"Wow.exe"}, .executable = "/opt/Vidora"}, recorder},
        // Discord by executable name or Flatpak id.
        {{.executable = "/usr/share/discord/Discord"}, discord},
        {{.executable = "/opt/discord/discord"}, discord},
        {{.executable = "/usr/bin/DISCORD"}, std::nullopt},
        {{.executable = electron, .flatpakInfo = "[Application]\nname=com.discordapp.Discord\n"}, discord},
        {{.executable = electron, .flatpakInfo = "[Application]\nname=org.example.Chat\n"}, std::nullopt},
    };
    for (const auto& [process, expected] : cases) {
        testing::FabricatedProc proc;
        proc.add(process);
        const auto identity = identifyProcess(ProcessTable(proc.root()), process.pid);
        EXPECT_EQ(identity ? std::optional(identity->identifier) : std::nullopt, expected)
            << (process.commandLine.empty() ? process.executable : process.commandLine[0]);
    }
}

}  // namespace
}  // namespace tavrin
