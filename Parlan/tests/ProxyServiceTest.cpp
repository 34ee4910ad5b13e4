#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "EngineFixture.h"
#include "FakeWorkspace.h"
#include "common/InterruptibleClock.h"
#include "proxy/ProxyService.h"

namespace parlan::testing {
namespace {

using tavrin::testing::FakeWorkspace;
using tavrin::testing::writeFile;

class ProxyServiceTest : public EngineTest {
protected:
    ProxyServiceTest()
        : gameFolder(movies.path() + "/World of Warcraft/_retail_/"),
          logs(parser, clock),
          service(work, logs, clock, [this](std::string_view text) { statuses.emplace_back(text); }) {
        std::filesystem::create_directories(gameFolder + "Logs");
    }

    void installGame() { work.paths[std::string(tavrin::gameBundleIdentifier)] = gameFolder + "Wow.exe"; }

    std::string gameFolder;
    FakeWorkspace work;
    LogFiles logs;
    std::vector<std::string> statuses;
    ProxyService service;
};

TEST_F(ProxyServiceTest, GameNotRunningBacksOffAndChecksForSilence) {
    installGame();
    feed(lines::enterArena);
    const Date lastRead = logs.recentRead();
    clock.set(lastRead + std::chrono::seconds(1201));
    service.pass();
    EXPECT_EQ(statuses, std::vector<std::string>{"World of Warcraft is not running"});
    EXPECT_EQ(clock.sleeps, std::vector<std::chrono::milliseconds>{std::chrono::seconds(3)});
    // The idle check ran: the match that had been silent too long ended.
    EXPECT_FALSE(parser.inMatch());
    service.pass();
    EXPECT_EQ(statuses.size(), 1U);  // unchanged text is not sent again
}

TEST_F(ProxyServiceTest, GameFoundAfterTheProxyStartedHasItsNewestLogFollowed) {
    work.run(4242, std::string(tavrin::gameBundleIdentifier));
    service.pass();
    EXPECT_FALSE(service.logFolder());
    EXPECT_TRUE(statuses.empty());  // still "..."
    installGame();
    const std::string log = gameFolder + "Logs/WoWCombatLog-030725_210400.txt";
    writeFile(log, lines::enterArena + "\n");
    touch(log, clock.now());
    service.pass();
    EXPECT_EQ(service.logFolder(), gameFolder + "Logs");
    EXPECT_TRUE(std::filesystem::is_directory(parser.logPath()));
    EXPECT_EQ(statuses, std::vector<std::string>{"Working..."});
    EXPECT_TRUE(parser.inMatch());
    EXPECT_TRUE(clock.sleeps.empty());
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

// Records every sleep and returns at once.
class CountingClock final : public tavrin::Clock {
public:
    Date now() const override { return {}; }
    void sleepFor(std::chrono::milliseconds span) override {
        std::lock_guard lock(mutex);
        sleeps.push_back(span);
    }
    std::mutex mutex;
    std::vector<std::chrono::milliseconds> sleeps;
};

TEST(RepeatingLoop, SleepsTheIntervalBeforeEveryPass) {
    CountingClock clock;
    std::atomic<int> passes = 0;
    {
        tavrin::RepeatingLoop loop(std::chrono::milliseconds(300), clock, [&] { ++passes; });
        while (passes < 5) {
            std::this_thread::yield();
        }
        loop.stop();
    }
    std::lock_guard lock(clock.mutex);
    EXPECT_GE(clock.sleeps.size(), static_cast<std::size_t>(passes.load()));
    for (const auto span : clock.sleeps) {
        EXPECT_EQ(span, std::chrono::milliseconds(300));
    }
}

TEST(InterruptibleClock, InterruptEndsSleepsNowAndLater) {
    tavrin::InterruptibleClock clock;
    std::jthread sleeper([&clock] { clock.sleepFor(std::chrono::hours(1)); });
    clock.interrupt();
    sleeper.join();  // returns long before an hour
    clock.sleepFor(std::chrono::hours(1));
    EXPECT_TRUE(clock.interrupted());
}

}  // namespace
}  // namespace parlan::testing
