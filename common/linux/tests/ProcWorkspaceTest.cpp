#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "FabricatedProc.h"
#include "ProcWorkspace.h"

namespace tavrin {
namespace {

using testing::FabricatedProc;
using testing::gameWindowsPath;

const std::string game(gameBundleIdentifier);

testing::FakeProcess gameProcess(pid_t pid, std::uint64_t startTime, const std::string& prefix) {
    return {.pid = pid,
            .commandLine = {std::string(gameWindowsPath)},
            .executable = "/usr/bin/wine64-preloader",
            .environment = {"WINEPREFIX=" + prefix},
            .startTime = startTime};
}

std::string gameFolder(const std::string& prefix) {
    return std::filesystem::canonical(prefix).string() +
           "/drive_c/Program Files (x86)/World of Warcraft/_retail_/";
}

TEST(ProcWorkspaceTest, ListsTheProcessesThatHaveAnIdentifier) {
    FabricatedProc proc;
    proc.add({.pid = 10, .executable = "/usr/bin/bash"});
    proc.add({.pid = 11, .executable = "/opt/tavrin/Parlan"});
    proc.add(gameProcess(12, 1000, proc.makePrefix("pfx")));
    for (const char* other : {"self", "12a", "0", "13"}) {  // 13 ended while the table was read
        std::filesystem::create_directories(proc.root() + "/" + other);
    }
    std::filesystem::create_symlink(proc.folder.file("gone"), proc.root() + "/14");
    proc.add({.pid = 15, .executable = "/usr/share/discord/Discord"});

    const ProcWorkspace workspace(proc.root(), proc.environment());
    const auto applications = workspace.runningApplications();
    ASSERT_EQ(applications.size(), 3u);
    EXPECT_EQ(applications[0].pid, 11);
    EXPECT_EQ(applications[0].bundleIdentifier, proxyBundleIdentifier);
    EXPECT_EQ(applications[0].name, "Parlan");
    EXPECT_EQ(applications[1].bundleIdentifier, game);
    EXPECT_EQ(applications[1].name, "Wow.exe");
    EXPECT_EQ(applications[2].bundleIdentifier, discordBundleIdentifier);
    for (const auto& application : applications) {
        EXPECT_FALSE(application.hidden);
        EXPECT_FALSE(application.finishedLaunching);  // there is no window without a display
    }
    EXPECT_TRUE(workspace.isRunning(proxyBundleIdentifier));
    EXPECT_FALSE(workspace.isRunning(recorderBundleIdentifier));
}

TEST(ProcWorkspaceTest, FindsTheGameFolderFromTheRunningGameElseOnDisk) {
    FabricatedProc proc;
    const ProcWorkspace workspace(proc.root(), proc.environment());
    EXPECT_EQ(getAppPath(workspace, gameBundleIdentifier), std::nullopt);

    const auto installed = proc.makePrefix(".wine");
    EXPECT_EQ(getAppPath(workspace, gameBundleIdentifier),
              installed + "/drive_c/Program Files (x86)/World of Warcraft/_retail_/");
    const auto running = proc.makePrefix("Games/wow");
    proc.add(gameProcess(20, 1000, running));
    EXPECT_EQ(getAppPath(workspace, gameBundleIdentifier), gameFolder(running));
    EXPECT_EQ(workspace.applicationPath(discordBundleIdentifier), std::nullopt);
}

TEST(ProcWorkspaceTest, RechecksTheProcessItFoundAndNoticesAReusedPid) {
    FabricatedProc proc;
    const auto first = proc.makePrefix("first");
    const auto second = proc.makePrefix("second");
    proc.add(gameProcess(300, 5000, first));
    const ProcWorkspace workspace(proc.root(), proc.environment());
    EXPECT_TRUE(workspace.isRunning(gameBundleIdentifier));

    // A second game at a lower pid: the followed one stays the one whose folder is given.
    proc.add(gameProcess(100, 7000, second));
    EXPECT_EQ(getAppPath(workspace, gameBundleIdentifier), gameFolder(first));

    // The game ended and its pid went to another program: no stale answer.
    proc.add({.pid = 300, .commandLine = {"bash"}, .executable = "/usr/bin/bash", .startTime = 9000});
    EXPECT_EQ(getAppPath(workspace, gameBundleIdentifier), gameFolder(second));
    std::filesystem::remove_all(proc.root() + "/100");
    EXPECT_FALSE(workspace.isRunning(gameBundleIdentifier));

    // Same pid, same start time, but the program replaced itself (exec) with another one.
    proc.add(gameProcess(300, 9100, first));
    EXPECT_TRUE(workspace.isRunning(gameBundleIdentifier));
    proc.add({.pid = 300, .commandLine = {"sleep"}, .executable = "/usr/bin/sleep", .startTime = 9100});
    EXPECT_FALSE(workspace.isRunning(gameBundleIdentifier));
}

TEST(ProcWorkspaceTest, KnowsItselfAndTerminatesOnlyRealProcesses) {
    FabricatedProc proc;
    std::filesystem::create_directories(proc.root() + "/self");
    std::filesystem::create_symlink("/opt/tavrin/Vidora", proc.root() + "/self/exe");
    EXPECT_EQ(ProcWorkspace(proc.root()).ownBundleIdentifier(), recorderBundleIdentifier);
    EXPECT_EQ(ProcWorkspace().ownBundleIdentifier(), std::nullopt);  // this test program is neither
    EXPECT_EQ(ProcWorkspace().ownProcessId(), ::getpid());

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

// A real process that looks like the game under Wine: bash sets the Windows path as its argv[0].
class GameChild {
public:
    explicit GameChild(const std::string& prefix) {
        std::string script = "exec -a '" + std::string(gameWindowsPath) + "' sleep 30";
        std::string environment = "WINEPREFIX=" + prefix;
        std::string path = "PATH=/usr/bin:/bin";
        char* arguments[] = {const_cast<char*>("bash"), const_cast<char*>("-c"), script.data(), nullptr};
        char* variables[] = {environment.data(), path.data(), nullptr};
        if (::posix_spawn(&pid, "/bin/bash", nullptr, nullptr, arguments, variables) != 0) {
            pid = 0;
        }
        // Bounded wait for the exec; the assertions that follow say whether it happened.
        for (int tries = 0; pid > 0 && tries < 1000; ++tries) {
            if (ProcessTable().firstCommandWord(pid) == gameWindowsPath) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~GameChild() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            reap();
        }
    }
    GameChild(const GameChild&) = delete;
    GameChild& operator=(const GameChild&) = delete;

    // Waits for the process to end; the signal that ended it, else 0.
    int reap() {
        int status = 0;
        const bool reaped = ::waitpid(pid, &status, 0) == pid;
        pid = 0;
        return reaped && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    pid_t pid = 0;
};

TEST(ProcWorkspaceTest, FollowsARealGameProcess) {
    FabricatedProc proc;
    const auto firstPrefix = proc.makePrefix("first");
    GameChild first(firstPrefix);
    ASSERT_GT(first.pid, 0);

    // The real table may hold other game processes (a stand-in game of another test): only ours is checked.
    const ProcWorkspace everything("/proc", proc.environment());
    const auto listed = [&](pid_t pid) {
        return std::ranges::any_of(
            everything.runningApplications(), [pid](const RunningApplication& application) {
                return application.pid == pid && application.bundleIdentifier == game &&
                       application.name == "Wow.exe";
            });
    };
    EXPECT_TRUE(listed(first.pid));
    EXPECT_TRUE(everything.isRunning(gameBundleIdentifier));

    // A proc root holding links to our children alone reads the kernel's own files for them.
    const ProcWorkspace ours(proc.root(), proc.environment());
    const auto follow = [&](pid_t pid) {
        const auto link = proc.root() + "/" + std::to_string(pid);
        std::filesystem::remove(link);
        std::filesystem::create_symlink("/proc/" + std::to_string(pid), link);
    };
    follow(first.pid);
    EXPECT_TRUE(ours.isRunning(gameBundleIdentifier));
    EXPECT_EQ(getAppPath(ours, gameBundleIdentifier), gameFolder(firstPrefix));
    EXPECT_TRUE(ours.terminate(first.pid));
    const pid_t ended = first.pid;
    EXPECT_EQ(first.reap(), SIGTERM);
    EXPECT_FALSE(ours.isRunning(gameBundleIdentifier));
    EXPECT_EQ(getAppPath(ours, gameBundleIdentifier), std::nullopt);
    EXPECT_FALSE(listed(ended));

    const auto secondPrefix = proc.makePrefix("second");
    GameChild second(secondPrefix);
    ASSERT_GT(second.pid, 0);
    follow(second.pid);
    EXPECT_TRUE(ours.isRunning(gameBundleIdentifier));
    EXPECT_EQ(getAppPath(ours, gameBundleIdentifier), gameFolder(secondPrefix));
}

}  // namespace
}  // namespace tavrin
