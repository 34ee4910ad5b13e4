// The real Parlan beside the stand-in game, each in its own process, with a temporary home.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

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

const std::string sampleLogs = std::string(TAVRIN_SHARED_DIR) + "/combatlogs/";

std::vector<std::string> filesWithExtension(const std::string& folder, const std::string& extension) {
    std::vector<std::string> stems;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() == extension) {
            stems.push_back(entry.path().stem().string());
        }
    }
    std::sort(stems.begin(), stems.end());
    return stems;
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

double modifiedSeconds(const std::string& path) {
    struct stat attributes {};
    ::stat(path.c_str(), &attributes);
    return static_cast<double>(attributes.st_mtim.tv_sec) +
           static_cast<double>(attributes.st_mtim.tv_nsec) / 1e9;
}

class ParlanEndToEnd : public ::testing::Test {
protected:
    ParlanEndToEnd() {
        fs::create_directories(runtime());
        fs::permissions(runtime(), fs::perms::owner_all);
    }

    std::string prefix() const { return home.path() + "/Games/world-of-warcraft"; }
    std::string runtime() const { return home.path() + "/runtime"; }
    std::string movies() const { return home.path() + "/Videos/TavrinMovies/"; }
    std::string commands() const { return movies() + ".logs/"; }
    std::map<std::string, std::string> environment() const {
        return {{"HOME", home.path()},
                {"XDG_CONFIG_HOME", ""},
                {"XDG_RUNTIME_DIR", runtime()},
                {"QT_QPA_PLATFORM", "offscreen"},
                {"DISPLAY", ""},
                {"WINEPREFIX", ""}};
    }
    std::unique_ptr<ChildProcess> startGame(std::vector<std::string> options) {
        options.insert(options.begin(), {RUN_FAKEGAME, prefix(), "--no-window"});
        return std::make_unique<ChildProcess>(options, environment());
    }
    std::unique_ptr<ChildProcess> startProxy() {
        return std::make_unique<ChildProcess>(std::vector<std::string>{PARLAN_BINARY}, environment());
    }
    // Every match that started has ended: as many subtitle files as command files, each with its End.
    bool matchesEnded(std::size_t count) const {
        const auto started = filesWithExtension(commands(), ".cmd");
        if (started.size() != count || filesWithExtension(movies(), ".srt").size() != count) {
            return false;
        }
        return std::all_of(started.begin(), started.end(), [this](const std::string& stamp) {
            return readFile(commands() + stamp + ".cmd").ends_with("CMD: End\r\n");
        });
    }
    // The live proxy's subtitles of each match against the offline replay of the same log.
    void expectSameMatchesAsReplay(const std::string& log) {
        TemporaryFolder replayMovies;
        const auto replayed = replayLog(log, replayMovies.path());
        ASSERT_TRUE(replayed);
        const auto live = filesWithExtension(movies(), ".srt");
        ASSERT_EQ(live.size(), replayed->size());
        for (std::size_t i = 0; i < live.size(); ++i) {
            EXPECT_EQ(cueTexts(movies() + live[i] + ".srt"),
                      cueTexts(replayMovies.path() + "/TavrinMovies/" + (*replayed)[i].stamp + ".srt"))
                << live[i];
            EXPECT_EQ(readFile(commands() + live[i] + ".cmd"),
                      "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\nCMD: End\r\n");
            EXPECT_TRUE(fs::exists(commands() + live[i] + ".log"));
        }
    }

    TemporaryFolder home;
};

TEST_F(ParlanEndToEnd, ReplayedArenaSessionLeavesItsFilesUnderOneName) {
    const std::string log = sampleLogs + "retail-11.0.2beta-skirmish-3v3-full-session.txt";
    auto game = startGame({"--replay", log, "--speed", "30"});
    auto proxy = startProxy();
    ASSERT_TRUE(waitUntil([this] { return matchesEnded(1); }, 90s));
    const auto stamp = filesWithExtension(commands(), ".cmd").front();
    EXPECT_EQ(filesWithExtension(movies(), ".srt"), std::vector<std::string>{stamp});
    EXPECT_EQ(filesWithExtension(commands(), ".log"), std::vector<std::string>{stamp});
    const auto texts = cueTexts(movies() + stamp + ".srt");
    EXPECT_EQ(texts.front(), "Start: Enigma Crucible");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "End: Home, 226, 0"), texts.end());
    expectSameMatchesAsReplay(log);
    proxy->signal(SIGTERM);
    EXPECT_EQ(proxy->wait(10s), 0);
}

TEST_F(ParlanEndToEnd, FollowsTheLogThroughCutLinesAndNewFiles) {
    const std::string log = sampleLogs + "retail-11.0.2-soloshuffle-x4-reloads.txt";
    auto game = startGame({"--replay", log, "--speed", "500", "--bursts", "--new-file-after-lines", "700"});
    auto proxy = startProxy();
    ASSERT_TRUE(waitUntil([this] { return matchesEnded(4); }, 120s));
    expectSameMatchesAsReplay(log);
}

TEST_F(ParlanEndToEnd, FollowsTheLogThroughCutLinesAndTruncation) {
    const std::string log = sampleLogs + "retail-11.0.2-soloshuffle-x4-reloads.txt";
    // The game pauses before emptying its log: what it held is gone once emptied.
    auto game = startGame({"--replay", log, "--speed", "500", "--bursts", "--truncate-after-lines", "600",
                           "--truncate-pause-ms", "1000"});
    auto proxy = startProxy();
    ASSERT_TRUE(waitUntil([this] { return matchesEnded(4); }, 120s));
    expectSameMatchesAsReplay(log);
}

TEST_F(ParlanEndToEnd, EndCommandFollowsTheSubtitlesByAboutOneSecond) {
    auto game = startGame({"--match", "--match-seconds", "4", "--matches", "1"});
    auto proxy = startProxy();
    ASSERT_TRUE(waitUntil([this] { return matchesEnded(1); }, 60s));
    const auto stamp = filesWithExtension(commands(), ".cmd").front();
    const double pause =
        modifiedSeconds(commands() + stamp + ".cmd") - modifiedSeconds(movies() + stamp + ".srt");
    EXPECT_GE(pause, 0.95);
    EXPECT_LT(pause, 3.0);
    const auto texts = cueTexts(movies() + stamp + ".srt");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "PlayerName: Tavrin-Mal'Ganis-US"), texts.end());
}

TEST_F(ParlanEndToEnd, GameNotRunningStartsNoMatch) {
    // An installed game with a fresh log that enters an arena, but no game process.
    const std::string game = home.path() + "/.wine/drive_c/Program Files (x86)/World of Warcraft/_retail_";
    const std::string logs = game + "/Logs";
    fs::create_directories(logs);
    std::ofstream(game + "/Wow.exe");
    std::ofstream(logs + "/WoWCombatLog-010125_000000.txt")
        << "1/1/2025 00:00:00.0001  ZONE_CHANGE,572,\"Ruins of Lordaeron\",0\n";
    auto proxy = startProxy();
    ASSERT_TRUE(waitUntil([&] { return fs::is_directory(commands()); }, 20s));
    EXPECT_FALSE(waitUntil([this] { return !filesWithExtension(commands(), ".cmd").empty(); }, 2s));
    EXPECT_TRUE(proxy->running());
}

TEST_F(ParlanEndToEnd, SecondCopyQuitsAndTheFirstStays) {
    auto first = startProxy();
    const tavrin::ProcWorkspace work;
    ASSERT_TRUE(waitUntil([&] { return work.isRunning(tavrin::proxyBundleIdentifier); }, 20s));
    auto second = startProxy();
    EXPECT_EQ(second->wait(20s), 0);
    EXPECT_TRUE(first->running());
    first->signal(SIGHUP);
    EXPECT_EQ(first->wait(10s), 0);
}

}  // namespace
}  // namespace parlan
