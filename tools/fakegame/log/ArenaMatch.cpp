// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/ArenaMatch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace fakegame {
namespace arena {

const std::array<Combatant, 4>& combatants() {
    static const std::array<Combatant, 4> people = {{
        {"Player-3684-0E1F2A3B", "Tavrin-Mal'Ganis-US", "0x511", 1, 65},  // Holy Paladin
        {"Player-3685-0A7C4D21", "Brakka-Zul'jin-US", "0x512", 1, 71},    // Arms Warrior
        {"Player-60-0F3B9E12", "Ysolde-Stormrage-US", "0x548", 0, 256},   // Discipline Priest
        {"Player-57-0C82D4A6", "Kethril-Illidan-US", "0x548", 0, 261},    // Subtlety Rogue
    }};
    return people;
}

}  // namespace arena

namespace {

using arena::Combatant;
using std::chrono::milliseconds;

enum class Effect { Damage, Heal, Buff, Debuff };

struct Spell {
    int id;
    std::string_view name;
    int school;
    Effect effect;
};

// Each combatant's spells, in the order of arena::combatants(); the first one deals damage.
const std::array<std::vector<Spell>, 4>& spellBooks() {
    static const std::array<std::vector<Spell>, 4> books = {{
        {{275773, "Judgment", 2, Effect::Damage},
         {20473, "Holy Shock", 2, Effect::Heal},
         {19750, "Flash of Light", 2, Effect::Heal},
         {1044, "Blessing of Freedom", 2, Effect::Buff},
         {853, "Hammer of Justice", 2, Effect::Debuff}},
        {{12294, "Mortal Strike", 1, Effect::Damage},
         {7384, "Overpower", 1, Effect::Damage},
         {1715, "Hamstring", 1, Effect::Debuff}},
        {{47666, "Penance", 2, Effect::Damage},
         {2061, "Flash Heal", 2, Effect::Heal},
         {17, "Power Word: Shield", 2, Effect::Buff},
         {589, "Shadow Word: Pain", 32, Effect::Debuff}},
        {{185438, "Shadowstrike", 1, Effect::Damage},
         {196819, "Eviscerate", 1, Effect::Damage},
         {408, "Kidney Shot", 1, Effect::Debuff}},
    }};
    return books;
}

constexpr std::int64_t maximumHealth = 8400000;
constexpr std::string_view arenaPreparation = "32727,\"Arena Preparation\",0x1";

std::string unitText(const Combatant& unit) {
    return std::string(unit.guid) + ",\"" + std::string(unit.name) + "\"," + std::string(unit.flags) + ",0x0";
}

std::string spellText(const Spell& spell) {
    char text[96];
    std::snprintf(text, sizeof text, "%d,\"%.*s\",0x%x", spell.id, static_cast<int>(spell.name.size()),
                  spell.name.data(), static_cast<unsigned>(spell.school));
    return text;
}

std::string combatantInfo(const Combatant& unit) {
    const bool healer = unit.specialization == 65 || unit.specialization == 256;
    const int strength = unit.specialization == 71 ? 41870 : 2250;
    const int agility = unit.specialization == 261 ? 41870 : 1820;
    // Strength, agility, stamina, intellect, dodge, parry, block, three crits, speed, leech, three hastes,
    // avoidance, mastery, three versatilities, armor, then the specialization.
    char stats[256];
    std::snprintf(stats, sizeof stats, "%d,%d,%d,%d,0,%d,0,%d,%d,%d,410,0,%d,%d,%d,0,%d,%d,%d,%d,%d,%d",
                  strength, agility, 412650, healer ? 38940 : 1960, healer ? 0 : 1620, 3120, 3120, 3120, 4870,
                  4870, 4870, 7310, 9840, 9840, 6120, healer ? 31800 : 48900, unit.specialization);
    std::string text = std::string(unit.guid) + "," + std::to_string(unit.team) + "," + stats + ",[";
    for (int i = 0; i < 10; ++i) {
        const int node = 80000 + unit.specialization * 10 + i;
        text += (i ? ",(" : "(") + std::to_string(node) + "," + std::to_string(node + 20000) + ",1)";
    }
    text += "],(0," + std::to_string(5000 + unit.specialization) + "," +
            std::to_string(5100 + unit.specialization) + "," + std::to_string(5200 + unit.specialization) +
            "),[";
    for (int i = 0; i < 4; ++i) {
        text +=
            "(" + std::to_string(229000 + unit.specialization * 4 + i) + ",684,(),(12265,12035,1569),()),";
    }
    text += "(0,0,(),(),())],[],87,40,1612,3";
    return text;
}

}  // namespace

struct ArenaMatchSource::Action {
    const Combatant* source;
    const Combatant* target;
    const Spell* spell;
    milliseconds removedBy;  // an aura ends before its target dies or the fight is over
};

ArenaMatchSource::ArenaMatchSource(ArenaSettings settings)
    : settings_(settings), random_(settings.seed), nextEntry_(settings.lobbyLength) {}

std::optional<ScriptLine> ArenaMatchSource::next() {
    if (pending_.empty() && (settings_.matches == 0 || planned_ < settings_.matches)) {
        planMatch();
    }
    if (pending_.empty()) {
        return std::nullopt;
    }
    ScriptLine line = std::move(pending_.front());
    pending_.pop_front();
    return line;
}

// The engine's output is fixed by the standard, unlike the distributions': the same match everywhere.
int ArenaMatchSource::between(int lowest, int highest) {
    return lowest + static_cast<int>(random_() % static_cast<std::uint64_t>(highest - lowest + 1));
}

void ArenaMatchSource::add(milliseconds offset, std::string text) {
    pending_.push_back({offset, StampShape{}, "  " + std::move(text)});
}

void ArenaMatchSource::addAction(milliseconds at, const Action& action) {
    // Every draw in its own statement: argument order would make the lines depend on the compiler.
    const std::string source = unitText(*action.source);
    const std::string target = unitText(*action.target);
    const std::string spell = spellText(*action.spell);
    const std::string caster = advanced(*action.source);
    const std::string struck = advanced(*action.target);
    add(at, "SPELL_CAST_SUCCESS," + source + "," + target + "," + spell + "," + caster);
    const milliseconds landed = at + milliseconds(between(0, 30));
    const int amount = between(60000, 420000);
    const int unmitigated = amount + between(0, 9000);
    const bool critical = between(0, 3) == 0;
    const milliseconds lasts = milliseconds(between(1500, 4000));
    const std::string school = std::to_string(action.spell->school);
    switch (action.spell->effect) {
        case Effect::Damage:
            add(landed, "SPELL_DAMAGE," + source + "," + target + "," + spell + "," + struck + "," +
                            std::to_string(amount) + "," + std::to_string(unmitigated) + ",-1," + school +
                            ",0,0,0," + (critical ? "1" : "nil") + ",nil,nil,ST");
            break;
        case Effect::Heal:
            add(landed, "SPELL_HEAL," + source + "," + target + "," + spell + "," + struck + "," +
                            std::to_string(amount) + "," + std::to_string(amount) + ",0,0," +
                            (critical ? "1" : "nil"));
            break;
        case Effect::Buff:
        case Effect::Debuff: {
            const std::string aura = "," + source + "," + target + "," + spell + "," +
                                     (action.spell->effect == Effect::Buff ? "BUFF" : "DEBUFF");
            add(landed, "SPELL_AURA_APPLIED" + aura);
            add(std::min(landed + lasts, action.removedBy), "SPELL_AURA_REMOVED" + aura);
            break;
        }
    }
}

// The unit's state after a spell's target or caster: health, powers, position, facing.
std::string ArenaMatchSource::advanced(const Combatant& unit) {
    const std::int64_t health = maximumHealth * between(35, 100) / 100;
    const double x = 1280.0 + between(-2500, 2500) / 100.0;
    const double y = 1665.0 + between(-2500, 2500) / 100.0;
    const double facing = between(0, 62831) / 10000.0;
    char text[192];
    std::snprintf(
        text, sizeof text,
        "%.*s,0000000000000000,%lld,%lld,9120,31440,14350,0,0,0,0,2500000,2500000,0,%.2f,%.2f,0,%.4f,684",
        static_cast<int>(unit.guid.size()), unit.guid.data(), static_cast<long long>(health),
        static_cast<long long>(maximumHealth), x, y, facing);
    return text;
}

void ArenaMatchSource::addKill(milliseconds at, const Combatant& killer, const Combatant& victim) {
    const auto& spell = spellBooks()[static_cast<std::size_t>(&killer - arena::combatants().data())].front();
    const std::string source = unitText(killer);
    const std::string target = unitText(victim);
    const int overkill = between(1000, 90000);
    const int amount = overkill + between(20000, 160000);
    char killed[160];
    std::snprintf(
        killed, sizeof killed,
        "%.*s,0000000000000000,0,%lld,9120,31440,14350,0,0,0,0,0,2500000,0,1280.00,1665.00,0,1.5708,684",
        static_cast<int>(victim.guid.size()), victim.guid.data(), static_cast<long long>(maximumHealth));
    add(at - milliseconds(2), "SPELL_DAMAGE," + source + "," + target + "," + spellText(spell) + "," +
                                  killed + "," + std::to_string(amount) + "," + std::to_string(amount) + "," +
                                  std::to_string(overkill) + "," + std::to_string(spell.school) +
                                  ",0,0,0,nil,nil,nil,ST");
    if (killer.team == arena::playerTeam) {
        add(at - milliseconds(1), "PARTY_KILL," + source + "," + target + ",0");
    }
    add(at, "UNIT_DIED,0000000000000000,nil,0x80000000,0x80000000," + target + ",0");
}

void ArenaMatchSource::planMatch() {
    const auto& people = arena::combatants();
    const auto& books = spellBooks();
    const int index = planned_++;
    const milliseconds entry = nextEntry_;
    const milliseconds length = settings_.matchLength;
    const auto at = [&](double fraction) {
        return entry + milliseconds(std::llround(static_cast<double>(length.count()) * fraction));
    };

    if (index == 0) {
        add(milliseconds(0),
            "COMBAT_LOG_VERSION,22,ADVANCED_LOG_ENABLED,1,BUILD_VERSION,11.1.5,PROJECT_ID,1");
        add(milliseconds(0), "ZONE_CHANGE,1,\"Orgrimmar\",0");
        add(milliseconds(0), "MAP_CHANGE,85,\"Orgrimmar\",2486.666748,1327.083252,-3506.354004,-5245.729004");
    }
    add(entry,
        "ZONE_CHANGE," + std::to_string(arena::zoneId) + ",\"" + std::string(arena::zoneName) + "\",0");
    for (const auto& person : people) {
        const std::string unit = unitText(person);
        add(at(0.02),
            "SPELL_AURA_APPLIED," + unit + "," + unit + "," + std::string(arenaPreparation) + ",BUFF");
    }

    const milliseconds start = at(0.25);
    for (const auto& person : people) {
        const std::string unit = unitText(person);
        add(start, "SPELL_AURA_REMOVED," + unit + "," + unit + "," + std::string(arenaPreparation) + ",BUFF");
    }
    add(start,
        "ARENA_MATCH_START," + std::to_string(arena::zoneId) + ",40," + std::string(arena::arenaType) + ",1");
    for (const auto& person : people) {
        add(start, "COMBATANT_INFO," + combatantInfo(person));
    }

    // Who dies when; the killer is the first of the other team still standing.
    const bool won = playerWins(index);
    const std::vector<std::pair<milliseconds, std::size_t>> deaths =
        won ? std::vector<std::pair<milliseconds, std::size_t>>{{at(0.55), 2}, {at(0.85), 3}}
            : std::vector<std::pair<milliseconds, std::size_t>>{{at(0.55), 1}, {at(0.70), 3}, {at(0.85), 0}};
    std::array<milliseconds, 4> diesAt;
    diesAt.fill(milliseconds::max());
    for (const auto& [time, victim] : deaths) {
        diesAt[victim] = time;
    }
    const auto standing = [&](milliseconds time, int team) {
        std::vector<std::size_t> alive;
        for (std::size_t i = 0; i < people.size(); ++i) {
            if (people[i].team == team && diesAt[i] > time) {
                alive.push_back(i);
            }
        }
        return alive;
    };

    const milliseconds fightEnd = deaths.back().first - milliseconds(100);
    for (milliseconds time = start + milliseconds(between(250, 650)); time < fightEnd;
         time += milliseconds(between(250, 650))) {
        std::vector<std::size_t> actors = standing(time, 0);
        const auto friends = standing(time, 1);
        actors.insert(actors.end(), friends.begin(), friends.end());
        const std::size_t actor =
            actors[static_cast<std::size_t>(between(0, static_cast<int>(actors.size()) - 1))];
        const auto& book = books[actor];
        const Spell& spell = book[static_cast<std::size_t>(between(0, static_cast<int>(book.size()) - 1))];
        const bool helpful = spell.effect == Effect::Heal || spell.effect == Effect::Buff;
        const int targetTeam = helpful ? people[actor].team : 1 - people[actor].team;
        const auto targets = standing(time, targetTeam);
        const std::size_t target =
            targets[static_cast<std::size_t>(between(0, static_cast<int>(targets.size()) - 1))];
        addAction(time, {&people[actor], &people[target], &spell, std::min(diesAt[target], fightEnd)});
    }
    for (const auto& [time, victim] : deaths) {
        const auto killers = standing(time, 1 - people[victim].team);
        addKill(time, people[killers.front()], people[victim]);
    }

    const milliseconds end = at(0.88);
    const auto seconds = std::llround(static_cast<double>((end - start).count()) / 1000.0);
    const int winner = won ? arena::playerTeam : 1 - arena::playerTeam;
    add(end, "ARENA_MATCH_END," + std::to_string(winner) + "," + std::to_string(seconds) + "," +
                 (won ? "1634,1590" : "1590,1634"));
    add(entry + length, "ZONE_CHANGE,1,\"Orgrimmar\",0");

    nextEntry_ = entry + length + std::max(milliseconds(2000), length / 10);
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const ScriptLine& a, const ScriptLine& b) { return a.offset < b.offset; });
}

}  // namespace fakegame
