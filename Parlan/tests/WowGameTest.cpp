#include <gtest/gtest.h>

#include "engine/WowGame.h"

namespace parlan {
namespace {

TEST(WowGame, OnlyArenaInstancesHaveAType) {
    const auto& game = WowGame::shared();
    for (const std::int64_t arena : {562,  1672, 572,  617,  618,  980,  1134, 559,  1505, 2167,
                                     1170, 1504, 1552, 1825, 1911, 2373, 2509, 2511, 2547, 2563}) {
        EXPECT_EQ(game.getInstanceType(arena), "Arena") << arena;
    }
    // Cities, battlegrounds and dungeons: Orgrimmar, Dornogal, Warsong Gulch, a dungeon.
    for (const std::int64_t other : {0, 1, 2552, 489, 2652, -572}) {
        EXPECT_FALSE(game.getInstanceType(other)) << other;
    }
}

TEST(WowGame, SpecializationIdsAreStrictIntegers) {
    const auto& game = WowGame::shared();
    EXPECT_EQ(game.getSpecialization("65"), "Holy - Paladin");
    EXPECT_EQ(game.getSpecialization("+65"), "Holy - Paladin");
    EXPECT_EQ(game.getSpecialization("065"), "Holy - Paladin");
    EXPECT_EQ(game.getSpecialization("1473"), "Augmentation - Evoker");
    EXPECT_EQ(game.getSpecialization("0"), "");
    for (const char* text : {"65 ", " 65", "", "abc", "999", "6 5", "99999999999999999999"}) {
        EXPECT_FALSE(game.getSpecialization(text)) << '"' << text << '"';
    }
}

TEST(WowGame, ExpansionsAreNamedFromOneToSixteen) {
    const auto& game = WowGame::shared();
    EXPECT_EQ(game.getExpansion("1"), "Classic");
    EXPECT_EQ(game.getExpansion("11"), "The War Within");
    EXPECT_EQ(game.getExpansion("12"), "Unknown");
    EXPECT_EQ(game.getExpansion("16"), "Unknown");
    for (const char* text : {"0", "17", "-1", "x", ""}) {
        EXPECT_FALSE(game.getExpansion(text)) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace parlan
