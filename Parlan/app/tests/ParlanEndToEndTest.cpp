// The real Parlan beside the stand-in game, each in its own process, with a temporary home: the followed
// log meets what the game and a player's machine do to it, and each time the matches must still count.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
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

// Cue texts of a subtitle file ("Start: ...", "Death: ...", facts), in order, times left out.
std::vector<std::string> cueTexts(const std::string& path) {
    std::vector<std::string> texts;
    std::ifstream file(path);
    int lineOfCue = 0;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lineOfCue = line.empty() ? 0 : lineOfCue + 1;
        if (lineOfCue == 3) {
            texts.push_back(line);
        }
    }
    return texts;
}

// A line stamped now in local time, as the game writes it.
std::string logLine(const std::string& event) {
    const std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%m/%d/%Y %H:%M:%S.000  ", std::localtime(&now));
    return stamp + event + "\n";
}

const std::string versionLine =
    "COMBAT_LOG_VERSION,22,ADVANCED_LOG_ENABLED,1,BUILD_VERSION,11.1.5,PROJECT_ID,1";

// The highest resident memory of a process so far (VmHWM, kB); 0 when it is gone.
long peakKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
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
                                                          {"DISPLAY", ""},
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
        const std::time_t later = std::time(nullptr) + ++logsMade_;
        std::tm fields{};
        localtime_r(&later, &fields);
        char name[64];
        std::strftime(name, sizeof name, "WoWCombatLog-%m%d%y_%H%M%S.txt", &fields);
        return logs() + name;
    }

    // Appends one arena visit to `log`: whether Parlan wrote its Start and then its End, and no match
    // that was never played (no log read twice).
    bool playsMatch(const std::string& log) {
        EXPECT_EQ(stems(commands(), ".cmd").size(), played_) << "a match that was never played";
        writeFile(log, logLine("ZONE_CHANGE,572,\"Ruins of Lordaeron\",0"), true);
        if (!waitUntil([&] { return stems(commands(), ".cmd").size() == played_ + 1; }, 30s)) {
            return false;
        }
        writeFile(log, logLine("ZONE_CHANGE,1,\"Orgrimmar\",0"), true);
        ++played_;
        const bool ended = waitUntil([&] { return matchesEnded(played_); }, 30s);
        // Matches are named by their second: the next one gets a name of its own.
        std::this_thread::sleep_for(1100ms);
        return ended;
    }

    // The idle game, Parlan, and a log it follows with one match in it already.
    std::string followedLog() {
        startGame({"--match", "--lobby-seconds", "36000"});
        startProxy();
        const std::string log = newLog();
        writeFile(log, logLine(versionLine));
        EXPECT_TRUE(playsMatch(log));
        return log;
    }

    // The shuffle log replayed by the game, its lines cut by bursts: Parlan following it live writes what
    // the offline replay of the same log writes, each End about a second after the subtitles.
    void expectTheMatchesOfTheReplay(std::vector<std::string> options) {
        const std::string log = std::string(TAVRIN_COMBATLOGS) + "retail-11.0.2-soloshuffle-x4-reloads.txt";
        options.insert(options.begin(), {"--replay", log, "--speed", "500", "--bursts"});
        startGame(options);
        startProxy();
        TemporaryFolder replayMovies;
        const auto replayed = replayLog(log, replayMovies.path());
        ASSERT_TRUE(replayed && replayed->size() > 1);
        ASSERT_TRUE(waitUntil([&] { return matchesEnded(replayed->size()); }, 90s));
        const auto live = stems(movies(), ".srt");
        for (std::size_t i = 0; i < live.size(); ++i) {
            SCOPED_TRACE(live[i]);
            EXPECT_EQ(cueTexts(movies() + live[i] + ".srt"),
                      cueTexts(replayMovies.path() + "/TavrinMovies/" + (*replayed)[i].stamp + ".srt"));
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

    TemporaryFolder home;
    std::unique_ptr<ChildProcess> game;
    std::unique_ptr<ChildProcess> proxy;
    int logsMade_ = 0;
    std::size_t played_ = 0;
};

TEST_F(ParlanProgram, LogCutAndRenewedGivesTheMatchesOfTheReplay) {
    expectTheMatchesOfTheReplay({"--new-file-after-lines", "700"});
    EXPECT_GT(stems(logs(), ".txt").size(), 1U) << "the game never went on in a new file";
}

TEST_F(ParlanProgram, LogCutAndEmptiedGivesTheMatchesOfTheReplay) {
    // The game pauses before emptying its log: what it held is gone once emptied.
    expectTheMatchesOfTheReplay({"--truncate-after-lines", "600", "--truncate-pause-ms", "1000"});
    const auto files = stems(logs(), ".txt");
    ASSERT_EQ(files.size(), 1U);
    EXPECT_LT(fs::file_size(logs() + files[0] + ".txt"), 300'000U) << "the game never emptied its log";
}

TEST_F(ParlanProgram, WithoutTheGameNoMatchStartsAndASecondCopyQuits) {
    // An installed game whose fresh log enters an arena, but no game process.
    fs::create_directories(logs());
    std::ofstream(logs() + "../Wow.exe");
    writeFile(newLog(), logLine(versionLine) + logLine("ZONE_CHANGE,572,\"Ruins of Lordaeron\",0"));
    startProxy();
    EXPECT_FALSE(waitUntil([this] { return !stems(commands(), ".cmd").empty(); }, 2s));

    const tavrin::ProcWorkspace work;
    ASSERT_TRUE(waitUntil([&] { return work.isRunning(tavrin::proxyBundleIdentifier); }, 20s));
    EXPECT_EQ(start({PARLAN_BINARY})->wait(20s), 0);
    EXPECT_TRUE(proxy->running());
    proxy->signal(SIGHUP);
    EXPECT_EQ(proxy->wait(10s), 0);
}

TEST_F(ParlanProgram, EndlessLineAndGarbageLeaveMemoryBoundedAndLaterMatchesCounting) {
    const std::string log = followedLog();
    const long startKilobytes = peakKilobytes(proxy->pid());
    ASSERT_GT(startKilobytes, 0);
    // Ten MiB without a line end, partly in steps a pass sees growing, partly at once.
    for (int i = 0; i < 4; ++i) {
        writeFile(log, std::string(1 << 20, 'x'), true);
        std::this_thread::sleep_for(150ms);
    }
    writeFile(log, std::string(6 << 20, 'y'), true);
    std::this_thread::sleep_for(1s);
    writeFile(log, "\n", true);
    EXPECT_TRUE(playsMatch(log)) << "after the endless line";
    EXPECT_LT(peakKilobytes(proxy->pid()) - startKilobytes, 100 * 1024);

    std::mt19937 random(7);
    std::string garbage;
    for (int i = 0; i < 1 << 18; ++i) {
        garbage += static_cast<char>(random());
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
    EXPECT_TRUE(playsMatch(log)) << "after the garbage";
}

TEST_F(ParlanProgram, LogThatGoesAwayIsFollowedAgainInItsSuccessor) {
    // A folder in the log's place, then the game's next log.
    std::string log = followedLog();
    fs::remove(log);
    fs::create_directory(log);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(playsMatch(newLog()));

    // Deleted while followed, the log before it still live (never to be read again from its start),
    // then written again under the same name, longer than before.
    log = newLog();
    writeFile(log, logLine(versionLine));
    EXPECT_TRUE(playsMatch(log));
    fs::remove(log);
    std::this_thread::sleep_for(1s);
    std::string again = logLine(versionLine);
    for (int i = 0; i < 4; ++i) {
        again += logLine("ZONE_CHANGE,1,\"Orgrimmar\",0");
    }
    writeFile(log, again);
    EXPECT_TRUE(playsMatch(log));

    // Deleted, then a new log under a later name.
    fs::remove(log);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(playsMatch(newLog()));
    EXPECT_EQ(stems(commands(), ".cmd").size(), played_) << "a match that was never played";
    EXPECT_TRUE(proxy->running());
}

}  // namespace
}  // namespace parlan
