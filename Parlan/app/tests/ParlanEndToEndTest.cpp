// SPDX-License-Identifier: GPL-3.0-or-later
// The real Parlan beside the stand-in game, each in its own process, with a temporary home: the followed
// log meets what the game and a player's machine do to it, and each time the matches must still count.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "ChildProcess.h"
#include "ProcWorkspace.h"
#include "TemporaryFolder.h"
#include "replay/Replay.h"

namespace parlan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tavrin::testing::ChildProcess;
using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;
using tavrin::testing::waitUntil;
using tavrin::testing::writeFile;

std::vector<std::string> stems(const std::string& folder, const std::string& extension) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() == extension) {
            found.push_back(entry.path().stem().string());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

// A subtitle file without its cue times, which depend on the moments the lines were read.
std::string withoutTimes(const std::string& path) {
    return std::regex_replace(readFile(path), std::regex(".*-->.*"), "");
}

// A local time as the game writes it in its lines and file names.
std::string localTime(const char* format, std::time_t time) {
    char text[64];
    std::strftime(text, sizeof text, format, std::localtime(&time));
    return text;
}

std::string logLine(const std::string& event) {
    return localTime("%m/%d/%Y %H:%M:%S.000  ", std::time(nullptr)) + event + "\n";
}

const std::string versionLine =
    "COMBAT_LOG_VERSION,22,ADVANCED_LOG_ENABLED,1,BUILD_VERSION,11.1.5,PROJECT_ID,1";

// The highest resident memory of a running process so far (VmHWM, kB).
long peakKilobytes(pid_t pid) {
    const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    return std::stol(status.substr(status.find("VmHWM:") + 6));
}

class ParlanProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (tavrin::ProcWorkspace().isRunning(tavrin::proxyBundleIdentifier)) {
            GTEST_SKIP() << "another Parlan of this user is running; a second one would quit at once";
        }
        fs::create_directories(home.path() + "/runtime");
        fs::permissions(home.path() + "/runtime", fs::perms::owner_all);
    }

    // The default Wine prefix: Parlan finds the game there also while it does not run.
    std::string prefix() const { return home.path() + "/.wine"; }
    std::string logs() const {
        return prefix() + "/drive_c/Program Files (x86)/World of Warcraft/_retail_/Logs/";
    }
    std::string movies() const { return home.path() + "/Videos/TavrinMovies/"; }
    std::string commands() const { return movies() + ".logs/"; }

    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments) const {
        return std::make_unique<ChildProcess>(
            arguments, std::map<std::string, std::string>{{"HOME", home.path()},
                                                          {"XDG_CONFIG_HOME", ""},
                                                          {"XDG_RUNTIME_DIR", home.path() + "/runtime"},
                                                          {"QT_QPA_PLATFORM", "offscreen"},
                                                          {"WINEPREFIX", ""}});
    }
    void startGame(std::vector<std::string> options) {
        options.insert(options.begin(), {RUN_FAKEGAME, prefix(), "--no-window"});
        game = start(options);
    }
    void startProxy() {
        proxy = start({PARLAN_BINARY});
        ASSERT_TRUE(waitUntil([this] { return fs::is_directory(commands()); }, 20s));
    }

    // Every match that started has ended: as many subtitle files as command files, each with its End.
    bool matchesEnded(std::size_t count) const {
        const auto started = stems(commands(), ".cmd");
        return started.size() == count && stems(movies(), ".srt").size() == count &&
               std::all_of(started.begin(), started.end(), [this](const std::string& stamp) {
                   return readFile(commands() + stamp + ".cmd").ends_with("CMD: End\r\n");
               });
    }

    // A log named as the game names them, later than every log before it.
    std::string newLog() {
        return logs() + localTime("WoWCombatLog-%m%d%y_%H%M%S.txt", std::time(nullptr) + ++logsMade_);
    }

    // Appends one arena visit to `log`: whether Parlan wrote its Start and then its End, and no match
    // that was never played (no log read twice).
    bool playsMatch(const std::string& log) {
        EXPECT_EQ(stems(commands(), ".cmd").size(), played_) << "a match that was never played";
        writeFile(log, logLine("ZONE_CHANGE,572,\"Ruins of Lordaeron\",0"), true);
        if (!waitUntil([&] { return stems(commands(), ".cmd").size() == played_ + 1; }, 30s)) {
            return false;
        }
        const std::time_t started = std::time(nullptr);
        writeFile(log, logLine("ZONE_CHANGE,1,\"Orgrimmar\",0"), true);
        ++played_;
        const bool ended = waitUntil([&] { return matchesEnded(played_); }, 30s);
        // Matches are named by the second they start in: whatever comes next gets a second of its own.
        waitUntil([&] { return std::time(nullptr) > started; }, 2s);
        return ended;
    }

    TemporaryFolder home;
    std::unique_ptr<ChildProcess> game;
    std::unique_ptr<ChildProcess> proxy;
    int logsMade_ = 0;
    std::size_t played_ = 0;
};

TEST_F(ParlanProgram, LogCutRenewedAndEmptiedGivesTheMatchesOfTheReplay) {
    // Two matches of a real log, replayed by the game in bursts that cut lines, going on in a new file
    // and emptying its log now and then (after a pause: what it held is gone once emptied).
    const std::string whole =
        readFile(std::string(TAVRIN_COMBATLOGS) + "retail-11.0.2-soloshuffle-x4-reloads.txt");
    const std::string log = home.path() + "/shuffle.txt";
    writeFile(log, whole.substr(0, whole.find("9/13/2024 14:23")));
    startGame({"--replay", log, "--speed", "500", "--bursts", "--new-file-after-lines", "500",
               "--truncate-after-lines", "350", "--truncate-pause-ms", "1000"});
    startProxy();
    TemporaryFolder replayMovies;
    const auto replayed = replayLog(log, replayMovies.path());
    ASSERT_TRUE(replayed && replayed->size() == 2);
    // The bursts must leave the newest log inside a line now and then, or no cut line was followed.
    bool sawCutLine = false;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto names = stems(logs(), ".txt");
            std::ifstream newest(names.empty() ? "" : logs() + names.back() + ".txt");
            sawCutLine |= newest.seekg(-1, std::ios::end) && newest.get() != '\n';
            return matchesEnded(replayed->size());
        },
        60s));
    EXPECT_TRUE(sawCutLine);
    const auto files = stems(logs(), ".txt");
    ASSERT_GT(files.size(), 1U) << "the game never went on in a new file";
    EXPECT_LT(fs::file_size(logs() + files.back() + ".txt"), fs::file_size(log) / 4)
        << "the game never emptied its log";

    const auto live = stems(movies(), ".srt");
    for (std::size_t i = 0; i < live.size(); ++i) {
        SCOPED_TRACE(live[i]);
        EXPECT_EQ(withoutTimes(movies() + live[i] + ".srt"),
                  withoutTimes(replayMovies.path() + "/TavrinMovies/" + (*replayed)[i].stamp + ".srt"));
        EXPECT_EQ(readFile(commands() + live[i] + ".cmd"),
                  "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\nCMD: End\r\n");
        EXPECT_TRUE(fs::exists(commands() + live[i] + ".log"));
        // The recorder stops about a second after the subtitles are complete.
        const std::chrono::duration<double> pause = fs::last_write_time(commands() + live[i] + ".cmd") -
                                                    fs::last_write_time(movies() + live[i] + ".srt");
        EXPECT_GE(pause.count(), 0.95);
        EXPECT_LT(pause.count(), 3.0);
    }
    proxy->signal(SIGTERM);
    EXPECT_EQ(proxy->wait(10s), 0);
}

TEST_F(ParlanProgram, FollowsTheLogThroughWhatTheMachineDoesToIt) {
    // An installed game whose fresh log enters an arena, but no game process: no match.
    fs::create_directories(logs());
    std::ofstream(logs() + "../Wow.exe");
    std::string log = newLog();
    writeFile(log, logLine(versionLine) + logLine("ZONE_CHANGE,572,\"Ruins of Lordaeron\",0"));
    startProxy();
    EXPECT_FALSE(waitUntil([this] { return !stems(commands(), ".cmd").empty(); }, 1s));

    // A second copy quits at once and the first stays.
    const tavrin::ProcWorkspace work;
    ASSERT_TRUE(waitUntil([&] { return work.isRunning(tavrin::proxyBundleIdentifier); }, 20s));
    EXPECT_EQ(start({PARLAN_BINARY})->wait(20s), 0);
    EXPECT_TRUE(proxy->running());

    // The idle game, and a log of its own with a match in it.
    fs::remove(log);
    startGame({"--match", "--lobby-seconds", "36000"});
    log = newLog();
    writeFile(log, logLine(versionLine));
    EXPECT_TRUE(playsMatch(log));

    // Ten MiB without a line end, partly in steps a pass sees growing, partly at once: memory stays
    // bounded and the next match counts.
    const long startKilobytes = peakKilobytes(proxy->pid());
    for (int i = 0; i < 4; ++i) {
        writeFile(log, std::string(1 << 20, 'x'), true);
        std::this_thread::sleep_for(150ms);
    }
    writeFile(log, std::string(6 << 20, 'y'), true);
    std::this_thread::sleep_for(1s);
    writeFile(log, "\n", true);
    EXPECT_TRUE(playsMatch(log)) << "after the endless line";
    EXPECT_LT(peakKilobytes(proxy->pid()) - startKilobytes, 100 * 1024);

    // A folder in the log's place, then the game's next log.
    fs::remove(log);
    fs::create_directory(log);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(playsMatch(newLog()));

    // Deleted while followed, the log before it still live: never to be read again from its start.
    log = newLog();
    writeFile(log, logLine(versionLine));
    EXPECT_TRUE(playsMatch(log));
    fs::remove(log);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(playsMatch(newLog()));
    proxy->signal(SIGHUP);
    EXPECT_EQ(proxy->wait(10s), 0);
}

}  // namespace
}  // namespace parlan
