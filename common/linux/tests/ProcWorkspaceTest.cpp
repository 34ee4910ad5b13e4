// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <numeric>
#include <tuple>

#include "ApplicationIdentity.h"
#include "GameLocation.h"
#include "ProcWorkspace.h"
#include "TemporaryFolder.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

// The game as Wine starts it.
const std::string wow = "C:\\Program Files (x86)\\World of Warcraft\\_retail_\\Wow.exe";

// One process of a fabricated proc tree; an empty link is left out, as for another user's process.
struct FakeProcess {
    pid_t pid = 0;
    std::vector<std::string> commandLine{}, environment{};  // environment: NAME=value
    std::string executable{}, comm = "process", workingDirectory{}, flatpakInfo{};
    std::uint64_t startTime = 1000;
    char state = 'S';
    pid_t parent = 1;
};

// A proc tree, a home folder and Wine prefixes in a temporary folder.
struct FabricatedProc {
    std::string root() const { return folder.file("proc"); }
    // Free of links, as paths mapped through a prefix's drives are.
    std::string home() const { return fs::canonical(folder.path()).string() + "/home"; }

    void add(const FakeProcess& process) {
        const std::string at = root() + "/" + std::to_string(process.pid);
        fs::remove_all(at);
        fs::create_directories(at + "/root");
        const auto nulSeparated = [](const std::vector<std::string>& words) {
            return std::accumulate(words.begin(), words.end(), std::string(),
                                   [](auto text, auto& word) { return text + word + '\0'; });
        };
        testing::writeFile(at + "/cmdline", nulSeparated(process.commandLine));
        testing::writeFile(at + "/environ", nulSeparated(process.environment));
        testing::writeFile(at + "/comm", process.comm + "\n");
        testing::writeFile(at + "/stat", std::to_string(process.pid) + " (" + process.comm + ") " +
                                             process.state + " " + std::to_string(process.parent) +
                                             " 1 1 0 -1 4194304 0 0 0 0 0 0 0 0 20 0 1 0 " +
                                             std::to_string(process.startTime) + " 9\n");
        testing::writeFile(at + "/root/.flatpak-info", process.flatpakInfo);
        if (!process.executable.empty()) {
            fs::create_symlink(process.executable, at + "/exe");
        }
        if (!process.workingDirectory.empty()) {
            fs::create_symlink(process.workingDirectory, at + "/cwd");
        }
    }

    // A Wine prefix under the home folder holding the file `relative`, drive C: linked as Wine links it.
    std::string makePrefix(const std::string& name,
                           const std::string& relative = std::string(gameInPrefix)) const {
        const std::string prefix = home() + "/" + name;
        fs::create_directories(fs::path(prefix + "/" + relative).parent_path());
        testing::writeFile(prefix + "/" + relative, "MZ");
        fs::create_directories(prefix + "/dosdevices");
        fs::create_symlink("../drive_c", prefix + "/dosdevices/c:");
        return prefix;
    }

    // HOME, and WINEPREFIX (empty: unset).
    Environment environment(std::string prefix = "") const {
        return [home = home(), prefix](std::string_view name) {
            return std::optional(name == "HOME" ? home : name == "WINEPREFIX" ? prefix : "");
        };
    }

    testing::TemporaryFolder folder;
};

TEST(ProcWorkspaceTest, ListsTheUsersOwnProcessesThatHaveAnIdentifier) {
    const std::string game(gameBundleIdentifier), proxy(proxyBundleIdentifier),
        recorder(recorderBundleIdentifier), discord(discordBundleIdentifier), none;
    const std::pair<FakeProcess, std::string> cases[] = {
        // The game by the file name of its first command word, in any letter case.
        {{.commandLine = {wow}, .executable = "/usr/lib/wine/wine64-preloader"}, game},
        {{.commandLine = {"/home/a/Games/wow/_retail_/Wow.exe", "-launch"}}, game},
        {{.commandLine = {"WOW.EXE"}, .comm = "x"}, game},
        {{.commandLine = {"C:\\Games\\WowClassic.exe"}, .executable = "/usr/bin/wine"}, none},
        {{.commandLine = {"wine", "C:\\Wow.exe"}, .comm = "wine"}, none},  // a launcher naming it
        // Our programs by executable name (also one replaced while it runs), comm when the exe link is
        // unreadable; before any other rule. A name with ") " does not shift the stat fields after it.
        {{.executable = "/opt/tavrin/Parlan (deleted)"}, proxy},
        {{.comm = "Parlan"}, proxy},
        {{.commandLine = {"Wow.exe"}, .executable = "/opt/Vidora", .comm = "a) (b", .startTime = 1ull << 40},
         recorder},
        // An exited copy that its parent has not reaped yet runs no more.
        {{.comm = "Parlan", .state = 'Z'}, none},
        // Discord by executable name or the Flatpak id of the [Application] group.
        {{.executable = "/usr/share/discord/Discord"}, discord},
        {{.executable = "/app/bin/electron",
          .flatpakInfo = "[Application]\r\nname=com.discordapp.Discord\r\n"},
         discord},
    };
    FabricatedProc proc;
    for (pid_t pid = 1; auto [process, expected] : cases) {
        process.pid = pid++;
        proc.add(process);
    }
    fs::create_directories(proc.root() + "/99");  // ended while the table was read
    // Another user's copy of our program (fabricated only where the test may chown) is none of ours.
    proc.add({.pid = 100, .comm = "Vidora"});
    const bool foreign = ::chown((proc.root() + "/100").c_str(), ::geteuid() + 1, ::getegid()) == 0;

    const ProcWorkspace workspace(proc.root(), proc.environment());
    std::map<pid_t, RunningApplication> found;
    for (auto& application : workspace.runningApplications()) {
        found[application.pid] = application;
    }
    for (pid_t pid = 1; const auto& [process, expected] : cases) {
        EXPECT_EQ(found[pid++].bundleIdentifier.value_or(""), expected) << "pid " << pid - 1;
    }
    EXPECT_EQ(found[8].startTime, 1ull << 40);
    EXPECT_EQ(found.count(100), foreign ? 0u : 1u);
}

// A recording of the game and Discord hears them and what they started, by the windows' processes and
// identifiers, and nothing else.
TEST(ApplicationIdentityTest, AnApplicationsTreeBelongsToItUpToAnApplicationOfItsOwn) {
    const std::string identifiers[] = {std::string(gameBundleIdentifier),
                                       std::string(discordBundleIdentifier)};
    // The windows' processes: the game's, and a program's without identifier.
    const ProcessStart windows[] = {{10, 1000}, {30, 1000}};
    const std::pair<FakeProcess, bool> cases[] = {
        {{.pid = 10, .commandLine = {wow}}, true},
        {{.pid = 11, .parent = 10}, true},                          // the game's helper
        {{.pid = 12, .parent = 11}, true},                          // and its helper
        {{.pid = 21, .executable = "/opt/discord/Discord"}, true},  // Discord's voice, by identity alone
        {{.pid = 30, .comm = "editor"}, true},
        {{.pid = 31, .comm = "spell", .parent = 30}, true},
        {{.pid = 40, .comm = "music"}, false},
        {{.pid = 41, .comm = "Vidora", .parent = 10}, false},     // an application of its own
        {{.pid = 42, .parent = 41}, false},                       // and what it started
        {{.pid = 30, .comm = "late", .startTime = 2000}, false},  // the editor's pid, reused
    };
    FabricatedProc proc;
    const ProcessTable table(proc.root());
    for (const auto& [process, belongs] : cases) {  // parents first
        proc.add(process);
        EXPECT_EQ(belongsToApplications(table, process.pid, identifiers, windows), belongs) << process.pid;
    }
    EXPECT_FALSE(belongsToApplications(table, 99, identifiers, windows)) << "a process that has ended";
}

TEST(DesktopEntryTest, NamesAWindowedProgramAsDesktopShellsDo) {
    FabricatedProc proc;
    const std::string data = proc.folder.file("data"), launched = data + "/elsewhere/launched.desktop";
    const auto write = [&](const std::string& path, const std::string& keys,
                           const std::string& type = "Application") {
        fs::create_directories(fs::path(data + path).parent_path());
        testing::writeFile(data + path, "[Desktop Entry]\nType=" + type + "\n" + keys);
    };
    // The home folder comes first; localized keys and other groups are not read; Hidden still names.
    write("/home/applications/editor.desktop",
          "# note\nName[de]=Bearbeiter\nName = Home Editor\nStartupWMClass=EdiTor\n");
    write("/first/applications/editor.desktop", "Name=Shadowed\n");
    write("/first/applications/kde/tool.desktop",
          "Hidden=true\nExec=env A=b \"/opt/my dir/run\" %U\n[Desktop Action x]\nName=Action\n");
    write("/second/applications/org.flat.App.desktop", "Name=Flat\n");
    write("/second/applications/link.desktop", "Name=Link\n", "Link");
    write("/elsewhere/launched.desktop", "Name=Launched\n");
    const DesktopEntries entries([&](std::string_view name) -> std::optional<std::string> {
        return name == "XDG_DATA_HOME"   ? data + "/home"
               : name == "XDG_DATA_DIRS" ? data + "/first:" + data + "/second"
                                         : "";
    });
    const auto gio = [&](pid_t pid) {
        return std::vector<std::string>{"GIO_LAUNCHED_DESKTOP_FILE=" + launched,
                                        "GIO_LAUNCHED_DESKTOP_FILE_PID=" + std::to_string(pid)};
    };
    // The process, its window's instance and class, the id and name found.
    const std::tuple<FakeProcess, std::string, std::string> cases[] = {
        {{.executable = "/usr/bin/edit"}, "EdiTor", "Home Editor"},
        {{}, "KDE-tool", "kde-tool"},
        {{.executable = "/bin/run"}, "", "kde-tool"},
        {{.flatpakInfo = "[Application]\nname=org.flat.App\n"}, "", "Flat"},
        {{.flatpakInfo = "[Application]\nname=org.only.Id\n"}, "", "org.only.Id"},
        {{.environment = gio(6)}, "", "Launched"},
        {{.environment = gio(1)}, "link", ""},  // launched by a parent; no application's entry
    };
    for (pid_t pid = 1; auto [process, windowClass, expected] : cases) {
        process.pid = pid++;
        proc.add(process);
        const auto entry = desktopEntryOf(ProcessTable(proc.root()), process.pid, *entries.current(),
                                          windowClass, windowClass);
        EXPECT_EQ(entry ? (entry->name.empty() ? entry->id : entry->name) : "", expected)
            << "pid " << process.pid;
    }
    EXPECT_EQ(entries.current()->byId("editor")->path, data + "/home/applications/editor.desktop");
    // Read once while the folders stay as they are; a new entry is read.
    const auto before = entries.current();
    EXPECT_EQ(entries.current(), before);
    write("/second/applications/kde/new.desktop", "Name=New\n");
    EXPECT_NE(entries.current()->byId("kde-new"), nullptr);
}

TEST(GameLocationTest, FindsTheExecutableOfAGameProcess) {
    FabricatedProc proc;
    // Wine finds files whatever their letter case.
    const std::string relative = "drive_c/program files (x86)/WORLD OF WARCRAFT/_retail_/WoW.exe";
    const auto prefix = proc.makePrefix(".wine", relative), named = proc.makePrefix("a=b", relative);
    const auto inDefault = prefix + "/" + relative, folder = fs::path(inDefault).parent_path().string();
    const std::string other = "WINEPREFIX=" + proc.home() + "/other";
    // The process's environment and working folder, its first command word, the path found.
    const std::tuple<std::vector<std::string>, std::string, std::string, std::optional<std::string>> cases[] =
        {
            // Without an absolute WINEPREFIX the default prefix ~/.wine.
            {{"WINEPREFIX=relative/pfx"}, "", wow, inDefault},
            // A longer name is no match; a value may hold "=".
            {{"WINEPREFIXES=/x", "WINEPREFIX=" + named}, "", wow, named + "/" + relative},
            {{other}, "", wow, std::nullopt},
            {{}, "", "C:", std::nullopt},
            // A Linux path as it is; else the executable's name in the working folder.
            {{}, "", inDefault, inDefault},
            {{other}, folder, wow, folder + "/WoW.exe"},
            {{}, proc.home(), "C:\\Games\\Wow.exe", std::nullopt},
        };
    for (const auto& [env, cwd, word, expected] : cases) {
        proc.add({.pid = 50, .commandLine = {word, "-x"}, .environment = env, .workingDirectory = cwd});
        EXPECT_EQ(gameExecutableOfProcess(ProcessTable(proc.root()), 50, proc.environment()), expected)
            << word << " in " << cwd;
    }
}

TEST(ProcWorkspaceTest, FollowsTheGameItFoundElseFindsItOnDisk) {
    FabricatedProc proc;
    const ProcWorkspace workspace(proc.root(), proc.environment());
    const auto path = [&](const Workspace& work) { return getAppPath(work, gameBundleIdentifier); };
    const std::string inPrefix = "/drive_c/Program Files (x86)/World of Warcraft/_retail_/";
    EXPECT_EQ(path(workspace), std::nullopt);
    // On disk: $WINEPREFIX, ~/.wine, ~/Games/*, then Steam's prefixes.
    const auto steam = proc.makePrefix(".steam/steam/steamapps/compatdata/12/pfx");
    EXPECT_EQ(path(workspace), steam + inPrefix);
    const auto games = proc.makePrefix("Games/wow");
    EXPECT_EQ(path(workspace), games + inPrefix);
    const auto installed = proc.makePrefix(".wine");
    EXPECT_EQ(path(workspace), installed + inPrefix);
    EXPECT_EQ(path(ProcWorkspace(proc.root(), proc.environment(steam))), steam + inPrefix);

    const auto first = proc.makePrefix("first"), second = proc.makePrefix("second");
    proc.add({.pid = 300, .commandLine = {wow}, .environment = {"WINEPREFIX=" + first}, .startTime = 5000});
    EXPECT_EQ(path(workspace), first + inPrefix);
    // A second game at a lower pid: the followed one stays the one whose folder is given.
    proc.add({.pid = 100, .commandLine = {wow}, .environment = {"WINEPREFIX=" + second}, .startTime = 7000});
    EXPECT_EQ(path(workspace), first + inPrefix);
    // Pid 300 now holds a later process, a game again: no stale answer, the search starts over.
    proc.add({.pid = 300, .commandLine = {wow}, .environment = {"WINEPREFIX=" + first}, .startTime = 9000});
    EXPECT_EQ(path(workspace), second + inPrefix);
    // Same pid, same start time, but the program replaced itself (exec) with another one.
    fs::remove_all(proc.root() + "/300");
    proc.add({.pid = 100, .executable = "/usr/share/discord/Discord", .startTime = 7000});
    EXPECT_FALSE(workspace.isRunning(gameBundleIdentifier));
}

}  // namespace
}  // namespace tavrin
