// SPDX-License-Identifier: GPL-3.0-or-later
#include "matches/ClassColours.h"

#include <map>

namespace vidora {

std::string classColour(std::string_view className) {
    static const std::map<std::string_view, std::string_view, std::less<>> colours = {
        {"Death Knight", "#C41E3A"}, {"Demon Hunter", "#A330C9"}, {"Druid", "#FF7C0A"},
        {"Evoker", "#33937F"},       {"Hunter", "#AAD372"},       {"Mage", "#3FC7EB"},
        {"Monk", "#00FF98"},         {"Paladin", "#F48CBA"},      {"Priest", "#FFFFFF"},
        {"Rogue", "#FFF468"},        {"Shaman", "#0070DD"},       {"Warlock", "#8788EE"},
        {"Warrior", "#C69B6D"}};
    const auto found = colours.find(className);
    return std::string(found != colours.end() ? found->second : "#9D9D9D");
}

}  // namespace vidora
