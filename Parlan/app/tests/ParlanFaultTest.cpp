// The real Parlan beside the stand-in game while the followed log meets what a player's machine does to
// it: an endless line, garbage, a folder in its place, deletion. Each time a later match must still count.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "ChildProcess.h"
#include "ProcWorkspace.h"
#include "TemporaryFolder.h"

namespace parlan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tavrin::testing::ChildProcess;
using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::waitUntil;
using tavrin::testing::writeFile;

// A line stamped now in local time, as the game writes it.
std::string logLine(const std::string& event) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm fields{};
    localtime_r(&seconds, &fields);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%d/%d/%d %02d:%02d:%02d.%03d  ", fields.tm_mon + 1, fields.tm_mday,
                  fields.tm_year + 1900, fields.tm_hour, fields.tm_min, fields.tm_sec,
                  static_cast<int>(milliseconds));
    return stamp + event + "\n";
}

// A value from /proc/PID/status in kB, such as "VmHWM"; 0 when the process is gone.
long statusKilobytes(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field + ":")) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return 0;
}

class ParlanFaults : public ::testing::Test {
protected:
    void SetUp() override {
        if (tavrin::ProcWorkspace().isRunning(tavrin::proxyBundleIdentifier)) {
            GTEST_SKIP() << "another Parlan of this user is running; a second one would quit at once";
        }
        fs::create_directories(home.path() + "/runtime");
        fs::permissions(home.path() + "/runtime", fs::perms::owner_all);
        // In the city for ten hours: the game runs while the test writes the log itself.
        game = start(
            {RUN_FAKEGAME, home.path() + "/prefix", "--no-window", "--match", "--lobby-seconds", "36000"});
        proxy = start({PARLAN_BINARY});
        // The command folder appears once Parlan has found the game.
        ASSERT_TRUE(waitUntil([this] { return fs::is_directory(commands()); }, 20s));
        if (!proxy->running()) {
            proxy.reset();
            GTEST_SKIP() << "Parlan quit at once: another Parlan of this user started meanwhile";
        }
    }
    void TearDown() override {
        if (proxy) {
            EXPECT_TRUE(proxy->running()) << "Parlan ended during the test";
            EXPECT_EQ(commandFiles().size(), played_) << "a match that was never played";
        }
    }

    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments) const {
        return std::make_unique<ChildProcess>(
            arguments, std::map<std::string, std::string>{{"HOME", home.path()},
                                                          {"XDG_CONFIG_HOME", ""},
                                                          {"XDG_RUNTIME_DIR", home.path() + "/runtime"},
                                                          {"QT_QPA_PLATFORM", "offscreen"},
                                                          {"DISPLAY", ""},
                                                          {"WINEPREFIX", ""}});
    }
    std::string logs() const {
        return home.path() + "/prefix/drive_c/Program Files (x86)/World of Warcraft/_retail_/Logs/";
    }
    std::string commands() const { return home.path() + "/Videos/TavrinMovies/.logs/"; }

    // A log named as the game names them, later than every log before it.
    std::string newLog() {
        const std::time_t later = std::time(nullptr) + ++logsMade_;
        std::tm fields{};
        localtime_r(&later, &fields);
        char name[64];
        std::strftime(name, sizeof name, "WoWCombatLog-%m%d%y_%H%M%S.txt", &fields);
        return logs() + name;
    }

    std::vector<std::string> commandFiles() const {
        std::vector<std::string> files;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(commands(), error)) {
            if (entry.path().extension() == ".cmd") {
                files.push_back(entry.path().string());
            }
        }
        return files;
    }

    // Appends one arena visit to `log`; whether Parlan wrote its Start and then its End, and no
    // match that was not played (no log read twice).
    bool playsMatch(const std::string& log) {
        EXPECT_EQ(commandFiles().size(), played_) << "a match that was never played";
        writeFile(log, logLine("ZONE_CHANGE,572,\"Ruins of Lordaeron\",0"), true);
        ++played_;
        if (!waitUntil([&] { return commandFiles().size() == played_; }, 30s)) {
            return false;
        }
        writeFile(log, logLine("ZONE_CHANGE,1,\"Orgrimmar\",0"), true);
        const bool ended = waitUntil(
            [this] {
                const auto files = commandFiles();
                return std::all_of(files.begin(), files.end(), [](const std::string& file) {
                    return readFile(file).ends_with("CMD: End\r\n");
                });
            },
            30s);
        // Matches are named by their second: the next one gets a name of its own.
        std::this_thread::sleep_for(1100ms);
        return ended;
    }

    // A log being followed, with one match in it already.
    std::string followedLog() {
        const std::string log = newLog();
        writeFile(log,
                  logLine("COMBAT_LOG_VERSION,22,ADVANCED_LOG_ENABLED,1,BUILD_VERSION,11.1.5,PROJECT_ID,1"));
        EXPECT_TRUE(playsMatch(log));
        return log;
    }

    TemporaryFolder home;
    std::unique_ptr<ChildProcess> game;
    std::unique_ptr<ChildProcess> proxy;
    int logsMade_ = 0;
    std::size_t played_ = 0;
};

TEST_F(ParlanFaults, EndlessLineKeepsMemoryBoundedAndLaterMatchesCount) {
    const std::string log = followedLog();
    const long startKilobytes = statusKilobytes(proxy->pid(), "VmHWM");
    ASSERT_GT(startKilobytes, 0);
    // Ten MiB without a line end, partly in steps a pass sees growing, partly at once.
    const std::string mebibyte(1 << 20, 'x');
    for (int i = 0; i < 4; ++i) {
        writeFile(log, mebibyte, true);
        std::this_thread::sleep_for(150ms);
    }
    writeFile(log, std::string(6 << 20, 'y'), true);
    std::this_thread::sleep_for(1s);
    writeFile(log, "\n", true);
    EXPECT_TRUE(playsMatch(log));
    EXPECT_LT(statusKilobytes(proxy->pid(), "VmHWM") - startKilobytes, 100 * 1024);
}

TEST_F(ParlanFaults, GarbageInTheLogLeavesLaterMatchesCounting) {
    const std::string log = followedLog();
    std::mt19937 random(7);
    std::string garbage(1 << 18, '\0');
    for (char& byte : garbage) {
        byte = static_cast<char>(random() % 256);
    }
    // Line heads with broken bodies: NULs, ill-formed UTF-8, impossible dates and numbers.
    for (const std::string& body :
         {std::string("ZONE_CHANGE,572\0,\"\xff\xfe\",0", 23),
          std::string("ZONE_CHANGE,99999999999999999999999,\"\xc3\x28\",0"),
          std::string("ARENA_MATCH_END,\xed\xa0\x80,,,,"), std::string("UNIT_DIED,\xf4\x90")}) {
        garbage += "\n" + logLine(body) + "13/32/2026 25:61:61.999  " + body + "\n";
    }
    writeFile(log, garbage, true);
    std::this_thread::sleep_for(1s);
    writeFile(log, "\n", true);
    EXPECT_TRUE(playsMatch(log));
}

TEST_F(ParlanFaults, LogThatGoesAwayIsFollowedAgainInItsSuccessor) {
    // A folder in the log's place, then the game's next log.
    std::string log = followedLog();
    fs::remove(log);
    fs::create_directory(log);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(playsMatch(newLog()));

    // Deleted while followed (the log before it still live), then written again under the same
    // name, longer than before.
    log = followedLog();
    fs::remove(log);
    std::this_thread::sleep_for(1s);
    std::string again =
        logLine("COMBAT_LOG_VERSION,22,ADVANCED_LOG_ENABLED,1,BUILD_VERSION,11.1.5,PROJECT_ID,1");
    for (int i = 0; i < 4; ++i) {
        again += logLine("ZONE_CHANGE,1,\"Orgrimmar\",0");
    }
    writeFile(log, again);
    EXPECT_TRUE(playsMatch(log));

    // Deleted, then a new log under a later name.
    fs::remove(log);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(playsMatch(newLog()));
}

}  // namespace
}  // namespace parlan
