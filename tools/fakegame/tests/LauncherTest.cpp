#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "FakeGameTesting.h"

extern char** environ;

namespace fakegame {
namespace {

using namespace testing;
namespace fs = std::filesystem;

// A started program, stopped with SIGTERM at the latest when the test ends.
class Child {
public:
    explicit Child(std::vector<std::string> arguments) {
        std::vector<char*> argv;
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
    }
    ~Child() {
        if (pid_ > 0) {
            stop();
        }
    }
    pid_t pid() const { return pid_; }
    // The exit status after SIGTERM, or -1 when the program did not exit normally.
    int stop() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
};

// The first log file in the folder once it holds a line; empty when none comes within a generous while.
std::string waitForLog(const fs::path& folder) {
    for (int attempt = 0; attempt < 400; ++attempt) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            if (readFile(entry.path()).find('\n') != std::string::npos) {
                return entry.path().string();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

TEST(FakeGameLauncherTest, RunsTheProgramAsWowExeUnderTheLaidOutPrefix) {
    TemporaryFolder prefix;
    ::unsetenv("FAKEGAME");
    Child game({"/bin/bash", RUN_FAKEGAME, prefix.path(), "--no-window", "--match", "--match-seconds", "5"});
    ASSERT_GT(game.pid(), 0);

    const fs::path retail =
        fs::path(prefix.path()) / "drive_c/Program Files (x86)/World of Warcraft/_retail_";
    const std::string log = waitForLog(retail / "Logs");
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(fs::path(log).filename().string().starts_with("WoWCombatLog-"));
    EXPECT_TRUE(readFile(log).find("  COMBAT_LOG_VERSION,") != std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(retail / "Wow.exe"));
    EXPECT_EQ(fs::read_symlink(fs::path(prefix.path()) / "dosdevices/c:"), "../drive_c");
    EXPECT_TRUE(fs::is_directory(fs::path(prefix.path()) / "dosdevices/c:/Program Files (x86)"));

    const std::string proc = "/proc/" + std::to_string(game.pid());
    const std::string commandLine = readFile(proc + "/cmdline");
    EXPECT_EQ(commandLine.substr(0, commandLine.find('\0')),
              "C:\\Program Files (x86)\\World of Warcraft\\_retail_\\Wow.exe");
    EXPECT_NE(commandLine.find(std::string("--logs\0", 7) + (retail / "Logs").string()), std::string::npos);
    const std::string environment = readFile(proc + "/environ");
    EXPECT_NE(environment.find(std::string("\0WINEPREFIX=", 12) + prefix.path() + std::string("\0", 1)),
              std::string::npos);

    // SIGTERM is a normal quit.
    EXPECT_EQ(game.stop(), 0);
}

}  // namespace
}  // namespace fakegame
