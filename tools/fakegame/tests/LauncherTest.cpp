// The launcher starts the real program as Wine starts the game, so that the proxy's tests find it as they
// would find the game.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TemporaryFolder.h"

extern char** environ;

namespace fakegame {
namespace {

using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;
namespace fs = std::filesystem;

// Stops the started program at the latest when the test ends.
struct Stopper {
    pid_t pid = -1;
    ~Stopper() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

TEST(FakeGameLauncherTest, RunsTheProgramUnderTheWindowsPathOfWowExe) {
    TemporaryFolder prefix;
    ::unsetenv("FAKEGAME");
    std::vector<std::string> arguments{
        "/bin/bash", RUN_FAKEGAME, prefix.path(), "--no-window", "--match", "--match-seconds", "5"};
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    Stopper game;
    ASSERT_EQ(posix_spawn(&game.pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);

    // Once a line is in the prefix's log folder, the program runs in place of the script.
    const fs::path logs =
        fs::path(prefix.path()) / "drive_c/Program Files (x86)/World of Warcraft/_retail_/Logs";
    bool logged = false;
    for (int attempt = 0; attempt < 400 && !logged; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(logs, error)) {
            logged = logged || readFile(entry.path()).find('\n') != std::string::npos;
        }
    }
    ASSERT_TRUE(logged);
    const std::string proc = "/proc/" + std::to_string(game.pid);
    EXPECT_EQ(fs::read_symlink(proc + "/exe"), fs::canonical(FAKEGAME));
    const std::string commandLine = readFile(proc + "/cmdline");
    EXPECT_EQ(commandLine.substr(0, commandLine.find('\0')),
              "C:\\Program Files (x86)\\World of Warcraft\\_retail_\\Wow.exe");
}

}  // namespace
}  // namespace fakegame
