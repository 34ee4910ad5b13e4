// SPDX-License-Identifier: GPL-3.0-or-later
// The player's keys, speeds, deaths to seek to and sound choice, without a player.
#include <gtest/gtest.h>

#include "player/PlayerControls.h"

namespace vidora {
namespace {

using Action = PlayerCommand::Action;

TEST(PlayerControls, KeysSpeedsDeathsAndSound) {
    // Keys by the names the toolkit gives them, shifted ones by the character they type.
    EXPECT_EQ(commandForKey("J"), (PlayerCommand{Action::seekBy, -10}));
    EXPECT_EQ(commandForKey(","), (PlayerCommand{Action::stepFrame, -1}));
    EXPECT_EQ(commandForKey("<"), PlayerCommand{Action::slower});
    EXPECT_EQ(commandForKey("Esc"), PlayerCommand{Action::leaveFullScreen});
    EXPECT_FALSE(commandForKey("Q"));

    EXPECT_EQ(nextSpeed(1.0, 1), 1.25);
    EXPECT_EQ(nextSpeed(1.0, -1), 0.75);
    EXPECT_EQ(nextSpeed(2.0, 1), 2.0);
    EXPECT_EQ(nextSpeed(0.25, -1), 0.25);
    EXPECT_EQ(nextSpeed(1.1, -1), 1.0);  // a speed set elsewhere goes to the offered one below

    using Kind = TimelineMark::Kind;
    const std::vector<TimelineMark> marks = {{10, Kind::roundStart, "Round 1", {}},
                                             {20, Kind::enemyDeath, "A died", {}},
                                             {20.1, Kind::roundEnd, "Round 1: won", Outcome::win},
                                             {35, Kind::friendlyDeath, "B died", {}},
                                             {50, Kind::death, "C died", {}}};
    EXPECT_EQ(nextDeath(marks, 0), 20);
    EXPECT_EQ(nextDeath(marks, 19.9), 35);  // already there, as a seek lands
    EXPECT_EQ(nextDeath(marks, 35), 50);
    EXPECT_EQ(nextDeath(marks, 50), std::nullopt);
    EXPECT_EQ(previousDeath(marks, 35.5), 20);  // pressed again, on back
    EXPECT_EQ(previousDeath(marks, 40), 35);
    EXPECT_EQ(previousDeath(marks, 20.5), std::nullopt);

    EXPECT_EQ(soundChoice(2, true, true).filterGraph, "[aid1] [aid2] amix=inputs=2:normalize=0 [ao]");
    for (const auto& [tracks, first, second, track] :
         std::vector<std::tuple<int, bool, bool, std::string>>{{2, true, false, "1"},
                                                               {2, false, true, "2"},
                                                               {2, false, false, "no"},
                                                               {1, true, true, "1"},
                                                               {1, false, true, "no"},
                                                               {0, true, true, "no"}}) {
        const auto choice = soundChoice(tracks, first, second);
        EXPECT_EQ(choice.filterGraph, "") << tracks << first << second;
        EXPECT_EQ(choice.track, track) << tracks << first << second;
    }
}

}  // namespace
}  // namespace vidora
