// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/MatchRecord.h"

#include <nlohmann/json.hpp>

namespace tavrin {
namespace {

// Keys in the order the format lists them, so that a person reading a record finds them there.
using Json = nlohmann::ordered_json;

template <typename T>
Json orNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

// An absent or null field reads as nothing; a field of another type is no record.
template <typename T>
std::optional<T> optionalField(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return std::nullopt;
    }
    return found->get<T>();
}

template <typename T>
T field(const Json& object, const char* key, T fallback = T()) {
    return optionalField<T>(object, key).value_or(std::move(fallback));
}

// An array field's entries, each read by `read`; none when the field is absent or null.
template <typename T, typename Read>
std::vector<T> entries(const Json& object, const char* key, Read read) {
    std::vector<T> list;
    const auto found = object.find(key);
    if (found != object.end() && !found->is_null()) {
        for (const Json& entry : found->get_ref<const Json::array_t&>()) {
            list.push_back(read(entry));
        }
    }
    return list;
}

void putSpecialization(Json& object, const MatchRecord::Specialization& specialization) {
    object["specId"] = orNull(specialization.id);
    object["spec"] = orNull(specialization.name);
    object["class"] = orNull(specialization.className);
}

MatchRecord::Specialization readSpecialization(const Json& object) {
    return {optionalField<std::int64_t>(object, "specId"), optionalField<std::string>(object, "spec"),
            optionalField<std::string>(object, "class")};
}

Json combatantJson(const MatchRecord::Combatant& combatant) {
    Json object{{"guid", combatant.guid}, {"name", orNull(combatant.name)}, {"team", orNull(combatant.team)}};
    Json teams = Json::array();
    for (const auto& team : combatant.teams) {
        teams.push_back(orNull(team));
    }
    object["teams"] = teams;
    putSpecialization(object, combatant.specialization);
    object["honorLevel"] = orNull(combatant.honorLevel);
    object["rating"] = combatant.rating ? Json{{"season", combatant.rating->season},
                                               {"personal", combatant.rating->personal},
                                               {"highestTier", combatant.rating->highestTier}}
                                        : Json(nullptr);
    return object;
}

MatchRecord::Combatant readCombatant(const Json& object) {
    MatchRecord::Combatant combatant{
        .guid = field<std::string>(object, "guid"),
        .name = optionalField<std::string>(object, "name"),
        .team = optionalField<int>(object, "team"),
        .teams = entries<std::optional<int>>(object, "teams",
                                             [](const Json& team) {
                                                 return team.is_null() ? std::nullopt
                                                                       : std::optional<int>(team.get<int>());
                                             }),
        .specialization = readSpecialization(object),
        .honorLevel = optionalField<std::int64_t>(object, "honorLevel"),
        .rating = std::nullopt};
    if (const auto rating = optionalField<Json>(object, "rating")) {
        combatant.rating = MatchRecord::Rating{field<std::int64_t>(*rating, "season"),
                                               field<std::int64_t>(*rating, "personal"),
                                               field<std::int64_t>(*rating, "highestTier")};
    }
    return combatant;
}

}  // namespace

std::string toJson(const MatchRecord& record) {
    Json json{{"version", record.version}, {"stamp", record.stamp},
              {"start", record.start},     {"duration", record.duration},
              {"ending", record.ending},   {"zone", {{"id", record.zone.id}, {"name", record.zone.name}}}};
    json["bracket"] = record.bracket ? Json{{"name", record.bracket->name},
                                            {"rated", record.bracket->rated},
                                            {"shuffle", record.bracket->shuffle}}
                                     : Json(nullptr);
    if (record.player) {
        Json player{{"guid", record.player->guid}, {"name", orNull(record.player->name)}};
        putSpecialization(player, record.player->specialization);
        player["team"] = orNull(record.player->team);
        json["player"] = player;
    } else {
        json["player"] = nullptr;
    }
    json["combatants"] = Json::array();
    for (const auto& combatant : record.combatants) {
        json["combatants"].push_back(combatantJson(combatant));
    }
    json["deaths"] = Json::array();
    for (const auto& death : record.deaths) {
        json["deaths"].push_back({{"time", death.time},
                                  {"round", death.round},
                                  {"guid", death.guid},
                                  {"name", orNull(death.name)},
                                  {"team", orNull(death.team)},
                                  {"side", orNull(death.side)}});
    }
    json["rounds"] = Json::array();
    for (const auto& round : record.rounds) {
        json["rounds"].push_back({{"number", round.number},
                                  {"start", round.start},
                                  {"end", round.end},
                                  {"winner", orNull(round.winner)},
                                  {"result", orNull(round.result)}});
    }
    json["result"] = record.result ? Json{{"outcome", orNull(record.result->outcome)},
                                          {"roundsWon", orNull(record.result->roundsWon)},
                                          {"roundsLost", orNull(record.result->roundsLost)},
                                          {"roundsDrawn", record.result->roundsDrawn}}
                                   : Json(nullptr);
    json["end"] = record.end ? Json{{"winningTeam", record.end->winningTeam},
                                    {"duration", record.end->duration},
                                    {"mmr", record.end->mmr}}
                             : Json(nullptr);
    // Names and zones stay as the game wrote them; the proxy repaired their UTF-8 already.
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<MatchRecord> readMatchRecord(std::string_view text, std::string* why) {
    const auto fail = [why](std::string reason) -> std::optional<MatchRecord> {
        if (why) {
            *why = std::move(reason);
        }
        return std::nullopt;
    };
    const Json json = Json::parse(text, nullptr, false);
    if (!json.is_object()) {
        return fail("not a match record: no JSON object");
    }
    try {
        MatchRecord record;
        record.version = json.at("version").get<int>();
        if (record.version > MatchRecord::currentVersion) {
            return fail("a match record of version " + std::to_string(record.version) +
                        "; this program reads version " + std::to_string(MatchRecord::currentVersion) +
                        " and older");
        }
        record.stamp = field<std::string>(json, "stamp");
        record.start = field<std::string>(json, "start");
        record.duration = field<double>(json, "duration");
        record.ending = field<std::string>(json, "ending");
        if (const auto zone = optionalField<Json>(json, "zone")) {
            record.zone = {field<std::int64_t>(*zone, "id"), field<std::string>(*zone, "name")};
        }
        if (const auto bracket = optionalField<Json>(json, "bracket")) {
            record.bracket =
                MatchRecord::Bracket{field<std::string>(*bracket, "name"), field<bool>(*bracket, "rated"),
                                     field<bool>(*bracket, "shuffle")};
        }
        if (const auto player = optionalField<Json>(json, "player")) {
            record.player = MatchRecord::Player{
                field<std::string>(*player, "guid"), optionalField<std::string>(*player, "name"),
                readSpecialization(*player), optionalField<int>(*player, "team")};
        }
        record.combatants = entries<MatchRecord::Combatant>(json, "combatants", readCombatant);
        record.deaths = entries<MatchRecord::Death>(json, "deaths", [](const Json& death) {
            return MatchRecord::Death{
                field<double>(death, "time"),      field<int>(death, "round", 1),
                field<std::string>(death, "guid"), optionalField<std::string>(death, "name"),
                optionalField<int>(death, "team"), optionalField<std::string>(death, "side")};
        });
        record.rounds = entries<MatchRecord::Round>(json, "rounds", [](const Json& round) {
            return MatchRecord::Round{field<int>(round, "number", 1), field<double>(round, "start"),
                                      field<double>(round, "end"), optionalField<int>(round, "winner"),
                                      optionalField<std::string>(round, "result")};
        });
        if (const auto result = optionalField<Json>(json, "result")) {
            record.result = MatchRecord::Result{
                optionalField<std::string>(*result, "outcome"), optionalField<int>(*result, "roundsWon"),
                optionalField<int>(*result, "roundsLost"), field<int>(*result, "roundsDrawn")};
        }
        if (const auto end = optionalField<Json>(json, "end")) {
            record.end = MatchRecord::End{field<std::int64_t>(*end, "winningTeam"),
                                          field<std::int64_t>(*end, "duration"),
                                          field<std::array<std::int64_t, 2>>(*end, "mmr")};
        }
        return record;
    } catch (const nlohmann::json::exception& error) {
        return fail(std::string("not a match record: ") + error.what());
    }
}

}  // namespace tavrin
