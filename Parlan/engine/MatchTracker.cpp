// SPDX-License-Identifier: GPL-3.0-or-later
// The arena match tracker: the event handlers of LogEvent.
#include "common/Text.h"
#include "engine/CommandFile.h"
#include "engine/LogEvent.h"
#include "engine/Thresholds.h"

namespace parlan {

bool LogEvent::onEvent(Date date, const Item& item) {
    const std::string& name = item.name();
    if (name == "SPELL_AURA_APPLIED") {
        return SPELL_AURA_APPLIED(item);
    }
    if (name == "UNIT_DIED") {
        return UNIT_DIED(date, item);
    }
    if (name == "ZONE_CHANGE") {
        return ZONE_CHANGE(date, item);
    }
    if (name == "MAP_CHANGE") {
        return MAP_CHANGE(item);
    }
    if (name == "ARENA_MATCH_START") {
        return ARENA_MATCH_START(date, item);
    }
    if (name == "ARENA_MATCH_END") {
        return ARENA_MATCH_END(date, item);
    }
    if (name == "COMBATANT_INFO") {
        return COMBATANT_INFO(item);
    }
    if (name == "COMBAT_LOG_VERSION") {
        return COMBAT_LOG_VERSION(item);
    }
    return false;
}

bool LogEvent::ZONE_CHANGE(Date date, const Item& item) {
    const auto instanceId = tavrin::parseInteger(item.group(1));
    if (!instanceId) {
        return false;
    }
    const auto type = wow_.getInstanceType(*instanceId);
    if (!type) {
        if (!inMatch()) {
            return false;
        }
        timeLines_.push_back({date, "End", "Zone"});
        onEventEnd(date, false);
        return true;
    }
    if (!inMatch()) {
        playData_["ZoneNumber"] = item.group(1);
        playData_["ZoneName"] = item.group(2);
        playData_["ZoneType"] = *type;
        const Date now = clock_.now();
        zoneType_ = *type;
        startDate_ = now;
        timeLines_.push_back({now, "Start", item.group(2)});
        onEventStart(now);
        return false;
    }
    timeLines_.front().text = item.group(2);
    playData_["ZoneName"] = item.group(2);
    return false;
}

bool LogEvent::MAP_CHANGE(const Item& item) {
    if (inMatch()) {
        timeLines_.front().text = item.group(2);
        playData_["ZoneName"] = item.group(2);
    }
    return false;
}

bool LogEvent::ARENA_MATCH_START(Date date, const Item& item) {
    const auto instanceId = tavrin::parseInteger(item.group(1));
    if (instanceId) {
        if (const auto type = wow_.getInstanceType(*instanceId)) {
            playData_["ZoneType"] = *type;
            playData_["ArenaType"] = item.group(3);
            // Each round of a shuffle starts with one.
            if (inMatch()) {
                record_.roundStarted(date, item.group(3), lineData_, timeLines_.size());
            }
        }
    }
    return false;
}

bool LogEvent::SPELL_AURA_APPLIED(const Item& item) {
    playData_["PlayerGUID"] = item.group(1);
    playData_["PlayerName"] = item.group(2);
    return false;
}

bool LogEvent::COMBATANT_INFO(const Item& item) {
    if (inMatch()) {
        record_.combatantInfo(item.group(1), item.group(2), item.group(4), lineData_);
    }
    const auto player = playData_.find("PlayerGUID");
    if (player == playData_.end() || player->second != item.group(1)) {
        return false;
    }
    playData_["PlayerTeam"] = item.group(2);
    if (const auto specialization = wow_.getSpecialization(item.group(4))) {
        playData_["PlayerSpec"] = *specialization;
    } else {
        playData_.erase("PlayerSpec");
    }
    return false;
}

bool LogEvent::UNIT_DIED(Date date, const Item& item) {
    if (!inMatch()) {
        return false;
    }
    const std::string& flags = item.group(3);
    const std::int64_t length = tavrin::characterCount(flags);
    const std::string lastThree = tavrin::substring(flags, length - 3, length);
    // The unit flags' reaction digit: 0x5 1 x marks a friend of the player.
    const bool friendly = tavrin::substring(lastThree, 0, 2) == "51";
    timeLines_.push_back({date, "Death", item.group(2) + (friendly ? " (F)" : " (E)")});
    record_.died(date, item.group(1), item.group(2), friendly, timeLines_.size());
    return false;
}

bool LogEvent::ARENA_MATCH_END(Date date, const Item& item) {
    if (!inMatch()) {
        return false;
    }
    const auto team = playData_.find("PlayerTeam");
    const std::string result = team != playData_.end() && team->second == item.group(1) ? "Home" : "Away";
    playData_["WinTeam"] = result;
    playData_["PlayTime"] = item.group(2);
    playData_["Score"] = item.group(3);
    record_.matchEnded(item.group(1), item.group(2), item.group(3), item.group(4));
    timeLines_.push_back({date, "End", result + ", " + item.group(2) + ", " + item.group(3)});
    onEventEnd(date, true);
    return true;
}

bool LogEvent::COMBAT_LOG_VERSION(const Item& item) {
    if (version_) {
        return false;
    }
    playData_["BID"] = std::string(command::gameBundleId);
    playData_["Title"] = std::string(command::gameTitle);
    playData_["Version"] = item.group(1);
    if (const auto expansion = wow_.getExpansion(item.group(2))) {
        playData_["Expansion"] = *expansion;
    } else {
        playData_.erase("Expansion");
    }
    version_ = item.group(1);
    return false;
}

void LogEvent::onEventIdle(Date lastRead) {
    if (!inMatch()) {
        return;
    }
    const Date now = clock_.now();
    if (tavrin::ageInSeconds(lastRead, now) > dataDelay) {
        timeLines_.push_back({now, "End", "Idle"});
        onEventEnd(now, false);
    }
}

}  // namespace parlan
