// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>

#include "EngineFixture.h"
#include "FakeWorkspace.h"
#include "proxy/ProxyService.h"

namespace parlan::testing {
namespace {

using tavrin::testing::FakeWorkspace;
using ProxyServiceTest = EngineTest;

TEST_F(ProxyServiceTest, ProxyLooksForTheGameUntilFoundAndEndsASilentMatchWhenItQuits) {
    const std::string gameFolder = movies.path() + "/World of Warcraft/_retail_/";
    std::filesystem::create_directories(gameFolder + "Logs");
    FakeWorkspace work;
    LogFiles logs(parser, clock);
    std::vector<std::string> statuses;
    ProxyService service(work, logs, clock, [&](std::string_view text) { statuses.emplace_back(text); });

    // Running, but its folder not known yet: the proxy keeps looking on every pass.
    work.run(4242, std::string(tavrin::gameBundleIdentifier));
    service.pass();
    EXPECT_FALSE(service.logFolder());
    work.paths[std::string(tavrin::gameBundleIdentifier)] = gameFolder + "Wow.exe";
    const std::string log = gameFolder + "Logs/WoWCombatLog-030725_210400.txt";
    tavrin::testing::writeFile(log, lines::version + "\n" + lines::enterArena + "\n");
    touch(log, clock.now());
    service.pass();
    EXPECT_TRUE(std::filesystem::is_directory(parser.logPath()));
    EXPECT_TRUE(parser.inMatch());
    // The add-on missing, then one older than the client (11.1.0), then one it loads; in folders named
    // in another letter case, as players' often are.
    const std::string toc = gameFolder + "interface/Addons/TavrinRecorder/TavrinRecorder.toc";
    std::filesystem::create_directories(std::filesystem::path(toc).parent_path());
    tavrin::testing::writeFile(toc, "## Interface: 110005, 110007\n## Title: Tavrin Recorder\n");
    service.pass();
    tavrin::testing::writeFile(toc, "## Interface: 110100\n");
    service.pass();

    // The game quits: the proxy backs off and still ends the match that has been silent too long.
    work.applications.clear();
    clock.advance(std::chrono::seconds(1201));
    service.pass();
    service.pass();
    EXPECT_FALSE(parser.inMatch());
    EXPECT_EQ(statuses,
              (std::vector<std::string>{
                  "World of Warcraft's folder was not found", std::string(AddonCheck::missingText),
                  std::string(AddonCheck::outdatedText), "Working...", "World of Warcraft is not running"}));
    EXPECT_EQ(clock.sleeps, (std::vector<std::chrono::milliseconds>(2, std::chrono::seconds(3))));

    // Started again from another Wine prefix: that game's folder is followed, not the one known before,
    // whatever the letter case of its name.
    work.paths[std::string(tavrin::gameBundleIdentifier)] = movies.path() + "/other/_retail_/WOW.EXE";
    work.run(4343, std::string(tavrin::gameBundleIdentifier));
    service.pass();
    EXPECT_EQ(service.logFolder(), movies.path() + "/other/_retail_/Logs");
}

TEST(SingleInstance, AnotherProcessWithTheSameIdentifierIsACopy) {
    FakeWorkspace work;
    work.ownIdentifier = std::string(tavrin::proxyBundleIdentifier);
    work.run(work.ownPid, std::string(tavrin::proxyBundleIdentifier));
    work.run(7, std::string(tavrin::recorderBundleIdentifier));
    EXPECT_FALSE(tavrin::anotherCopyRuns(work));
    work.run(8, std::string(tavrin::proxyBundleIdentifier));
    EXPECT_TRUE(tavrin::anotherCopyRuns(work));
    // Of two copies started together only the later one quits, whatever their pids.
    work.applications[0].startTime = 500;
    work.applications[2].startTime = 501;
    EXPECT_FALSE(tavrin::anotherCopyRuns(work));
    work.applications[2].startTime = 500;
    EXPECT_TRUE(tavrin::anotherCopyRuns(work));  // same tick: the lower pid stays
    work.ownPid = 5;
    work.applications[0].pid = 5;
    EXPECT_FALSE(tavrin::anotherCopyRuns(work));
    work.applications.push_back({9, std::nullopt, "", false, true});  // a process without an identifier
    work.ownIdentifier.reset();  // a renamed build has none either, and no copies
    EXPECT_FALSE(tavrin::anotherCopyRuns(work));
}

}  // namespace
}  // namespace parlan::testing
