#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "EngineFixture.h"
#include "FakeGameTesting.h"
#include "log/ArenaMatch.h"

namespace fakegame {
namespace {

using namespace testing;

// The built-in session written on a manual clock, then fed line by line through the proxy's real parser with
// its clock at each line's time, as the proxy would follow the game live.
class FakeGameMatchTest : public parlan::testing::EngineTest {
protected:
    std::vector<std::string> play(ArenaSettings settings) {
        ManualClock writerClock(parlan::testing::localDate(2025, 3, 7, 21, 4, 7));
        ArenaMatchSource source(settings);
        const auto files = runSession(source, intoFolder(logs.path()), writerClock);
        EXPECT_EQ(files.size(), 1U);
        const std::string text = readFile(files.at(0));
        EXPECT_EQ(text.back(), '\n');
        const auto lines = splitLines(text);
        for (const auto& line : lines) {
            const auto stamp = parseStamp(line);
            const auto date = stamp
                                  ? tavrin::dateTimeDot(line.substr(0, stamp->length - stamp->offset.size()))
                                  : std::nullopt;
            if (!date) {
                ADD_FAILURE() << "no time stamp: " << line;
                continue;
            }
            EXPECT_EQ(stamp->shape, (StampShape{true, true})) << line;
            EXPECT_EQ(stamp->offset, "1") << line;  // Berlin in March
            clock.set(*date);
            feed(line);
        }
        return lines;
    }

    // The proxy's files of one kind, by name.
    std::vector<std::string> outputs(const std::string& folder, const std::string& extension) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() == extension) {
                names.push_back(entry.path().stem().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TemporaryFolder logs;
};

TEST_F(FakeGameMatchTest, OneMatchStartsAndEndsOnceNamingThePlayerAndAnEnemysDeath) {
    const auto lines = play(arenaMatches(8, 1, 3));
    EXPECT_FALSE(parser.inMatch());
    const auto commands = outputs(parser.logPath(), ".cmd");
    ASSERT_EQ(commands, std::vector<std::string>{"2025-03-07 21.04.08"});  // the arena is entered a second in
    EXPECT_EQ(commandFile(commands[0]), "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\nCMD: End\r\n");
    ASSERT_EQ(outputs(parser.subPath(), ".srt"), commands);

    const std::string text = subtitles(commands[0]);
    for (const char* expected :
         {"Start: Ruins of Lordaeron\r\n", "Death: Ysolde-Stormrage-US (E)\r\n",
          "Death: Kethril-Illidan-US (E)\r\n", "End: Home, 5, 1634\r\n", "ArenaType: 2v2\r\n",
          "PlayerName: Tavrin-Mal'Ganis-US\r\n", "PlayerTeam: 1\r\n", "PlayerSpec: Holy - Paladin\r\n",
          "ZoneType: Arena\r\n", "Version: 11.1.5\r\n", "WinTeam: Home\r\n"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
    }
    EXPECT_EQ(text.find("(F)"), std::string::npos);

    // Lines the proxy only passes over lie between, and the session leaves the arena at the end.
    const auto count = [&lines](std::string_view event) {
        return std::count_if(lines.begin(), lines.end(), [event](const std::string& line) {
            return line.find(event) != std::string::npos;
        });
    };
    EXPECT_EQ(count("  COMBATANT_INFO,"), 4);
    EXPECT_GT(count("  SPELL_CAST_SUCCESS,"), 4);
    EXPECT_GT(count("  SPELL_DAMAGE,"), 2);
    EXPECT_NE(lines.back().find("  ZONE_CHANGE,1,\"Orgrimmar\",0"), std::string::npos);
}

TEST_F(FakeGameMatchTest, TheNextMatchIsLostAndTheSameSeedPlaysTheSame) {
    play(arenaMatches(6, 2, 9));
    const auto names = outputs(parser.subPath(), ".srt");
    ASSERT_EQ(names.size(), 2U);
    EXPECT_NE(subtitles(names[0]).find("End: Home, "), std::string::npos);
    const std::string lost = subtitles(names[1]);
    for (const char* expected : {"Death: Brakka-Zul'jin-US (F)\r\n", "Death: Kethril-Illidan-US (E)\r\n",
                                 "Death: Tavrin-Mal'Ganis-US (F)\r\n", "End: Away, ", "WinTeam: Away\r\n",
                                 "PlayerName: Tavrin-Mal'Ganis-US\r\n", "ArenaType: 2v2\r\n"}) {
        EXPECT_NE(lost.find(expected), std::string::npos) << expected << " in\n" << lost;
    }

    ArenaMatchSource first(arenaMatches(60, 1, 4));
    ArenaMatchSource again(arenaMatches(60, 1, 4));
    ArenaMatchSource other(arenaMatches(60, 1, 5));
    bool differs = false;
    while (auto line = first.next()) {
        const auto same = again.next();
        const auto different = other.next();
        ASSERT_TRUE(same);
        EXPECT_EQ(same->afterStamp, line->afterStamp);
        EXPECT_EQ(same->offset, line->offset);
        differs = differs || !different || different->afterStamp != line->afterStamp;
    }
    EXPECT_FALSE(again.next());
    EXPECT_TRUE(differs);
}

}  // namespace
}  // namespace fakegame
