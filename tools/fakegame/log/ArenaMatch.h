// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <string_view>

#include "log/LineSource.h"

namespace fakegame {

struct ArenaSettings {
    std::chrono::milliseconds matchLength{std::chrono::seconds(60)};
    int matches = 1;  // 0: one match after another without end
    std::uint64_t seed = 1;
    // Time in the city before the first match.
    std::chrono::milliseconds lobbyLength{std::chrono::seconds(1)};
};

// The people of the built-in matches: the player and a partner on team 1 against two on team 0.
namespace arena {
struct Combatant {
    std::string_view guid;
    std::string_view name;
    std::string_view flags;  // the unit flags as the player's client sees them
    int team;
    int specialization;
};
inline constexpr int zoneId = 572;
inline constexpr std::string_view zoneName = "Ruins of Lordaeron";
inline constexpr std::string_view arenaType = "2v2";
inline constexpr int playerTeam = 1;
// In order: the player, the partner, the enemy healer, the enemy rogue.
const std::array<Combatant, 4>& combatants();
}  // namespace arena

// The built-in session: the log's version line in the city, then 2v2 arena matches, each entering the arena,
// naming the player, starting, fighting until a team is dead, ending and leaving, with a short stay in the
// city between matches. The same settings give the same lines.
class ArenaMatchSource final : public LineSource {
public:
    explicit ArenaMatchSource(ArenaSettings settings);

    std::optional<ScriptLine> next() override;

    // Whether the player's team wins match `index` (from 0): every other match, the first included. A won
    // match kills both enemies; a lost one the partner, one enemy and the player.
    static bool playerWins(int index) { return index % 2 == 0; }

private:
    struct Action;

    void planMatch();
    void add(std::chrono::milliseconds offset, std::string text);
    void addAction(std::chrono::milliseconds at, const Action& action);
    void addKill(std::chrono::milliseconds at, const arena::Combatant& killer,
                 const arena::Combatant& victim);
    std::string advanced(const arena::Combatant& unit);
    int between(int lowest, int highest);

    ArenaSettings settings_;
    std::mt19937_64 random_;
    std::deque<ScriptLine> pending_;
    int planned_ = 0;
    std::chrono::milliseconds nextEntry_{0};
};

}  // namespace fakegame
