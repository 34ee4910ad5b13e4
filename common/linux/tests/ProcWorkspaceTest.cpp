#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "ChildProcess.h"
#include "FabricatedProc.h"
#include "ProcWorkspace.h"

namespace tavrin {
namespace {

using namespace std::chrono_literals;
using testing::FabricatedProc;
using testing::gameWindowsPath;

testing::FakeProcess gameProcess(pid_t pid, std::uint64_t startTime, const std::string& prefix) {
    return {.pid = pid,
            .commandLine = {std::string(gameWindowsPath)},
            .environment = {"WINEPREFIX=" + prefix},
            .startTime = startTime};
}

std::string gameFolder(const std::string& prefix) {
    return std::filesystem::canonical(prefix).string() +
           "/drive_c/Program Files (x86)/World of Warcraft/_retail_/";
}

TEST(ProcWorkspaceTest, ListsTheUsersOwnProcessesThatHaveAnIdentifier) {
    FabricatedProc proc;
    proc.add({.pid = 10, .executable = "/usr/bin/bash"});
    proc.add({.pid = 11, .executable = "/opt/tavrin/Parlan"});
    proc.add(gameProcess(12, 1000, proc.makePrefix("pfx")));
    std::filesystem::create_directories(proc.root() + "/13");  // ended while the table was read
    proc.add({.pid = 15, .executable = "/usr/share/discord/Discord"});
    // Another user's copy of our program (fabricated only where the test may chown) is none of ours.
    proc.add({.pid = 16, .comm = "Vidora"});
    const bool foreign = ::chown((proc.root() + "/16").c_str(), ::geteuid() + 1, ::getegid()) == 0;

    const ProcWorkspace workspace(proc.root(), proc.environment());
    const auto applications = workspace.runningApplications();
    ASSERT_EQ(applications.size(), foreign ? 3u : 4u);
    EXPECT_EQ(applications[0].pid, 11);
    EXPECT_EQ(applications[0].bundleIdentifier, proxyBundleIdentifier);
    EXPECT_EQ(applications[0].name, "Parlan");
    EXPECT_EQ(applications[1].bundleIdentifier, gameBundleIdentifier);
    EXPECT_EQ(applications[1].name, "Wow.exe");
    EXPECT_EQ(applications[2].bundleIdentifier, discordBundleIdentifier);
    EXPECT_NE(workspace.isRunning(recorderBundleIdentifier), foreign);
}

TEST(ProcWorkspaceTest, FollowsTheGameItFoundElseFindsItOnDisk) {
    FabricatedProc proc;
    const ProcWorkspace workspace(proc.root(), proc.environment());
    EXPECT_EQ(getAppPath(workspace, gameBundleIdentifier), std::nullopt);
    const auto installed = proc.makePrefix(".wine");
    EXPECT_EQ(getAppPath(workspace, gameBundleIdentifier),
              installed + "/drive_c/Program Files (x86)/World of Warcraft/_retail_/");
    EXPECT_EQ(workspace.applicationPath(discordBundleIdentifier), std::nullopt);

    const auto first = proc.makePrefix("first");
    const auto second = proc.makePrefix("second");
    proc.add(gameProcess(300, 5000, first));
    EXPECT_EQ(getAppPath(workspace, gameBundleIdentifier), gameFolder(first));
    // A second game at a lower pid: the followed one stays the one whose folder is given.
    proc.add(gameProcess(100, 7000, second));
    EXPECT_EQ(getAppPath(workspace, gameBundleIdentifier), gameFolder(first));
    // Pid 300 now holds a later process, a game again: no stale answer, the search starts over.
    proc.add(gameProcess(300, 9000, first));
    EXPECT_EQ(getAppPath(workspace, gameBundleIdentifier), gameFolder(second));
    // Same pid, same start time, but the program replaced itself (exec) with another one.
    std::filesystem::remove_all(proc.root() + "/300");
    proc.add({.pid = 100, .executable = "/usr/share/discord/Discord", .startTime = 7000});
    EXPECT_FALSE(workspace.isRunning(gameBundleIdentifier));
}

TEST(ProcWorkspaceTest, KnowsItselfAndTerminatesOnlyRealProcesses) {
    FabricatedProc proc;
    std::filesystem::create_directories(proc.root() + "/self");
    std::filesystem::create_symlink("/opt/tavrin/Vidora", proc.root() + "/self/exe");
    EXPECT_EQ(ProcWorkspace(proc.root()).ownBundleIdentifier(), recorderBundleIdentifier);
    // Pid 0 would signal the caller's whole process group: checked in a child with a group of its own.
    const pid_t child = ::fork();
    if (child == 0) {
        ::setpgid(0, 0);
        ::_exit(ProcWorkspace().terminate(0) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ProcWorkspaceTest, FollowsARealGameProcessUntilItEnds) {
    FabricatedProc proc;
    const auto prefix = proc.makePrefix("pfx");
    // Looks like the game under Wine: bash's exec -a sets the Windows path as argv[0].
    testing::ChildProcess child(
        {"/bin/bash", "-c", "exec -a '" + std::string(gameWindowsPath) + "' sleep 30"},
        {{"WINEPREFIX", prefix}});
    ASSERT_TRUE(testing::waitUntil(
        [&] { return ProcessTable().firstCommandWord(child.pid()) == gameWindowsPath; }, 5s));

    // A proc root holding a link to our child alone reads the kernel's own files for it.
    std::filesystem::create_directories(proc.root());
    std::filesystem::create_symlink("/proc/" + std::to_string(child.pid()),
                                    proc.root() + "/" + std::to_string(child.pid()));
    const ProcWorkspace ours(proc.root(), proc.environment());
    EXPECT_TRUE(ours.isRunning(gameBundleIdentifier));
    EXPECT_EQ(getAppPath(ours, gameBundleIdentifier), gameFolder(prefix));
    EXPECT_TRUE(ours.terminate(child.pid()));
    EXPECT_EQ(child.wait(5s), 128 + SIGTERM);
    EXPECT_FALSE(ours.isRunning(gameBundleIdentifier));
}

}  // namespace
}  // namespace tavrin
