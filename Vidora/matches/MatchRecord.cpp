// SPDX-License-Identifier: GPL-3.0-or-later
#include "matches/MatchRecord.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace vidora {

namespace {

using Json = nlohmann::json;

const Json* field(const Json& object, std::string_view key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(key);
    return found != object.end() && !found->is_null() ? &*found : nullptr;
}

std::string text(const Json& object, std::string_view key) {
    const Json* value = field(object, key);
    return value && value->is_string() ? value->get<std::string>() : std::string();
}

std::optional<double> number(const Json& object, std::string_view key) {
    const Json* value = field(object, key);
    return value && value->is_number() ? std::optional(value->get<double>()) : std::nullopt;
}

std::optional<int> integer(const Json& object, std::string_view key) {
    const Json* value = field(object, key);
    return value && value->is_number_integer() ? std::optional(value->get<int>()) : std::nullopt;
}

bool flag(const Json& object, std::string_view key) {
    const Json* value = field(object, key);
    return value && value->is_boolean() && value->get<bool>();
}

const Json& list(const Json& object, std::string_view key) {
    static const Json empty = Json::array();
    const Json* value = field(object, key);
    return value && value->is_array() ? *value : empty;
}

std::optional<Outcome> outcome(const Json& object, std::string_view key) {
    const std::string value = text(object, key);
    return value == "win"    ? std::optional(Outcome::win)
           : value == "loss" ? std::optional(Outcome::loss)
           : value == "draw" ? std::optional(Outcome::draw)
                             : std::nullopt;
}

Combatant combatant(const Json& object) {
    Combatant result{.guid = text(object, "guid"),
                     .name = text(object, "name"),
                     .spec = text(object, "spec"),
                     .className = text(object, "class"),
                     .team = integer(object, "team"),
                     .teams = {}};
    for (const Json& team : list(object, "teams")) {
        if (team.is_number_integer()) {
            result.teams.push_back(team.get<int>());
        }
    }
    return result;
}

std::string figure(const Json& value) {
    if (value.is_number_float()) {
        std::ostringstream out;
        out << value.get<double>();
        return out.str();
    }
    return value.is_string() ? value.get<std::string>() : value.dump();
}

MatchRecord record(const Json& root) {
    MatchRecord match;
    match.version = integer(root, "version").value_or(0);
    match.duration = number(root, "duration").value_or(0);
    match.ending = text(root, "ending");
    if (const Json* zone = field(root, "zone")) {
        match.zone = text(*zone, "name");
    }
    if (const Json* bracket = field(root, "bracket")) {
        match.bracket = text(*bracket, "name");
        match.rated = flag(*bracket, "rated");
        match.shuffle = flag(*bracket, "shuffle");
    }
    if (const Json* player = field(root, "player"); player && player->is_object()) {
        match.player = combatant(*player);
    }
    for (const Json& entry : list(root, "combatants")) {
        match.combatants.push_back(combatant(entry));
    }
    for (const Json& entry : list(root, "deaths")) {
        const std::string side = text(entry, "side");
        match.deaths.push_back({.time = number(entry, "time").value_or(0),
                                .round = integer(entry, "round").value_or(1),
                                .guid = text(entry, "guid"),
                                .name = text(entry, "name"),
                                .side = side == "friend"  ? std::optional(Side::friendly)
                                        : side == "enemy" ? std::optional(Side::enemy)
                                                          : std::nullopt});
    }
    for (const Json& entry : list(root, "rounds")) {
        match.rounds.push_back({.number = integer(entry, "number").value_or(1),
                                .start = number(entry, "start").value_or(0),
                                .end = number(entry, "end").value_or(0),
                                .result = outcome(entry, "result")});
    }
    if (const Json* result = field(root, "result"); result && result->is_object()) {
        match.hasResult = true;
        match.outcome = outcome(*result, "outcome");
        match.roundsWon = integer(*result, "roundsWon").value_or(0);
        match.roundsLost = integer(*result, "roundsLost").value_or(0);
    }
    if (const Json* end = field(root, "end"); end && end->is_object()) {
        for (const auto& [name, value] : end->items()) {
            if (name != "winningTeam" && name != "duration" && !value.is_null() && !value.is_structured()) {
                match.endFigures.emplace_back(name, figure(value));
            }
        }
    }
    return match;
}

}  // namespace

RecordReading readMatchRecord(std::string_view text) {
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::parse_error& error) {
        // An error at the very end is a file cut short: a record is written whole, then renamed.
        return {.record = std::nullopt,
                .problem = error.byte >= text.size() ? "The match record is cut short."
                                                     : "The match record is not readable."};
    }
    if (!root.is_object()) {
        return {.record = std::nullopt, .problem = "The match record is not readable."};
    }
    const auto version = integer(root, "version");
    if (!version || *version < 1) {
        return {.record = std::nullopt, .problem = "The match record has no version."};
    }
    if (*version > knownRecordVersion) {
        return {.record = std::nullopt,
                .problem = "The match record is of a newer version (" + std::to_string(*version) +
                           "): update Vidora to read it."};
    }
    return {.record = record(root), .problem = {}};
}

RecordReading readMatchRecordFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return {.record = std::nullopt, .problem = "No match record."};
    }
    std::ostringstream content;
    content << file.rdbuf();
    return readMatchRecord(content.str());
}

}  // namespace vidora
