// The stand-in game's bursts, which the proxy's program test relies on to cut lines but cannot see.
#include <gtest/gtest.h>

#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "common/DateTime.h"
#include "log/ArenaMatch.h"
#include "log/LogSession.h"

namespace fakegame {
namespace {

using tavrin::testing::ManualClock;
using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;

const Date sessionStart = tavrin::dateTimeDot("3/7/2025 21:04:07.000").value();
const ArenaSettings shortMatch{.matchLength = std::chrono::seconds(5), .matches = 1, .seed = 2};

// A manual clock that counts the times the log ends in a cut line when the writer waits, as a follower
// polling it would see them.
class WatchingClock final : public tavrin::Clock {
public:
    explicit WatchingClock(std::string watched) : file(std::move(watched)) {}
    Date now() const override { return clock_.now(); }
    void sleepFor(std::chrono::milliseconds span) override {
        const std::string text = readFile(file);
        cutLines += !text.empty() && text.back() != '\n';
        clock_.sleepFor(span);
    }

    const std::string file;
    int cutLines = 0;

private:
    ManualClock clock_{sessionStart};
};

TEST(FakeGameSessionTest, BurstsCutLinesOnTheWayButAddUpToTheWhole) {
    TemporaryFolder whole;
    ManualClock clock(sessionStart);
    ArenaMatchSource source(shortMatch);
    const auto unbroken = LogSession({.logsFolder = whole.path(), .bursts = std::nullopt}, clock).run(source);

    TemporaryFolder logs;
    WatchingClock watching(logs.file("WoWCombatLog-030725_210407.txt"));
    ArenaMatchSource again(shortMatch);
    const auto files =
        LogSession({.logsFolder = logs.path(), .bursts = BurstSettings{.seed = 3, .averageBytes = 200}},
                   watching)
            .run(again);
    ASSERT_EQ(files, std::vector<std::string>{watching.file});
    EXPECT_GT(watching.cutLines, 0);
    EXPECT_EQ(readFile(files[0]), readFile(unbroken.at(0)));
}

}  // namespace
}  // namespace fakegame
