// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/WowGame.h"

#include <algorithm>
#include <array>
#include <utility>

#include "common/Text.h"

namespace parlan {
namespace {

constexpr std::array<std::int64_t, 20> wowArena = {562,  1672, 572,  617,  618,  980,  1134,
                                                   559,  1505, 2167, 1170, 1504, 1552, 1825,
                                                   1911, 2373, 2509, 2511, 2547, 2563};

constexpr std::array<std::string_view, 17> wowExpansion = {"Unknown",
                                                           "Classic",
                                                           "The Burning Crusade",
                                                           "Wrath of the Lich King",
                                                           "Cataclysm",
                                                           "Mists of Pandaria",
                                                           "Warlords of Draenor",
                                                           "Legion",
                                                           "Battle for Azeroth",
                                                           "Shadowlands",
                                                           "Dragonflight",
                                                           "The War Within",
                                                           "Unknown",
                                                           "Unknown",
                                                           "Unknown",
                                                           "Unknown",
                                                           "Unknown"};

constexpr std::array<std::pair<std::int64_t, std::string_view>, 40> wowSpecialization = {{
    {0, ""},
    {62, "Arcane - Mage"},
    {63, "Fire - Mage"},
    {64, "Frost - Mage"},
    {65, "Holy - Paladin"},
    {66, "Protection - Paladin"},
    {70, "Retribution - Paladin"},
    {71, "Arms - Warrior"},
    {72, "Fury - Warrior"},
    {73, "Protection - Warrior"},
    {102, "Balance - Druid"},
    {103, "Feral - Druid"},
    {104, "Guardian - Druid"},
    {105, "Restoration - Druid"},
    {250, "Blood - Death Knight"},
    {251, "Frost - Death Knight"},
    {252, "Unholy - Death Knight"},
    {253, "Beast Mastery - Hunter"},
    {254, "Marksmanship - Hunter"},
    {255, "Survival - Hunter"},
    {256, "Discipline - Priest"},
    {257, "Holy - Priest"},
    {258, "Shadow - Priest"},
    {259, "Assassination - Rogue"},
    {260, "Outlaw - Rogue"},
    {261, "Subtlety - Rogue"},
    {262, "Elemental - Shaman"},
    {263, "Enhancement - Shaman"},
    {264, "Restoration - Shaman"},
    {265, "Affliction - Warlock"},
    {266, "Demonology - Warlock"},
    {267, "Destruction - Warlock"},
    {268, "Brewmaster - Monk"},
    {269, "Windwalker - Monk"},
    {270, "Mistweaver - Monk"},
    {577, "Havoc - Demon Hunter"},
    {581, "Vengeance - Demon Hunter"},
    {1467, "Devastation - Evoker"},
    {1468, "Preservation - Evoker"},
    {1473, "Augmentation - Evoker"},
}};

}  // namespace

const WowGame& WowGame::shared() {
    static const WowGame game;
    return game;
}

std::optional<std::string> WowGame::getInstanceType(std::int64_t instanceId) const {
    if (std::find(wowArena.begin(), wowArena.end(), instanceId) == wowArena.end()) {
        return std::nullopt;
    }
    return "Arena";
}

std::optional<std::string> WowGame::getSpecialization(std::string_view id) const {
    const auto value = tavrin::parseInteger(id);
    if (!value) {
        return std::nullopt;
    }
    for (const auto& [specializationId, name] : wowSpecialization) {
        if (specializationId == *value) {
            return std::string(name);
        }
    }
    return std::nullopt;
}

std::optional<std::string> WowGame::getExpansion(std::string_view number) const {
    const auto value = tavrin::parseInteger(number);
    if (!value || *value < 1 || *value >= static_cast<std::int64_t>(wowExpansion.size())) {
        return std::nullopt;
    }
    return std::string(wowExpansion[static_cast<std::size_t>(*value)]);
}

}  // namespace parlan
