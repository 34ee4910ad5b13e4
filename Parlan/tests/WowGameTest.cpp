#include <gtest/gtest.h>

#include "engine/WowGame.h"

namespace parlan {
namespace {

TEST(WowGame, LooksUpArenasSpecializationsAndExpansions) {
    const auto& game = WowGame::shared();
    EXPECT_EQ(game.getInstanceType(572), "Arena");
    EXPECT_EQ(game.getInstanceType(2563), "Arena");
    EXPECT_FALSE(game.getInstanceType(1));     // Orgrimmar
    EXPECT_FALSE(game.getInstanceType(2552));  // Dornogal

    // Identifiers are strict integers: a sign and leading zeros, nothing else.
    for (const char* text : {"65", "+65", "065"}) {
        EXPECT_EQ(game.getSpecialization(text), "Holy - Paladin") << text;
    }
    EXPECT_EQ(game.getSpecialization("0"), "");
    for (const char* text : {"65 ", "", "abc", "999", "99999999999999999999"}) {
        EXPECT_FALSE(game.getSpecialization(text)) << '"' << text << '"';
    }

    EXPECT_EQ(game.getExpansion("11"), "The War Within");
    EXPECT_EQ(game.getExpansion("12"), "Unknown");
    for (const char* text : {"0", "17", "-1"}) {
        EXPECT_FALSE(game.getExpansion(text)) << text;
    }
}

}  // namespace
}  // namespace parlan
