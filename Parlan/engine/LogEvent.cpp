// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/LogEvent.h"

#include <iostream>
#include <utility>

#include "common/Folders.h"
#include "engine/CommandFile.h"

namespace parlan {

const std::vector<LogEvent::Definition>& LogEvent::registedEvents() {
    // Each pattern takes every shape the game has written so far: names on realms with an apostrophe,
    // 22 or more (possibly negative) numbers before a combatant's talents, and a winning team of 255
    // when a solo shuffle ends without one.
    static const std::vector<Definition> events = [] {
        std::vector<Definition> list;
        list.reserve(8);
        list.push_back(
            {"COMBAT_LOG_VERSION", 0, Regex(R"(/^.*,BUILD_VERSION,((\d+)\.\d+\.\d+),PROJECT_ID,()()/)")});
        list.push_back({"SPELL_AURA_APPLIED", 1, Regex(R"(/(Player-[^,]+),\"([\w\-']+)\",0x511,()()/)")});
        list.push_back({"ARENA_MATCH_START", 1, Regex(R"(/^(\d+),(\d+),([\w\s]+),()/)")});
        list.push_back({"ARENA_MATCH_END", 1, Regex(R"(/^(\d+),(\d+),(\d+),(\d+)/)")});
        list.push_back({"ZONE_CHANGE", 2, Regex(R"(/^(\d+),\"(.*)\",()()/)")});
        list.push_back({"MAP_CHANGE", 2, Regex(R"(/^(\d+),\"(.*)\",()()/)")});
        list.push_back({"UNIT_DIED", 2, Regex(R"(/^.*,(Player-[^,]+),\"([\w\-']+)\",(0x\d+),(0x\d+),0/)")});
        list.push_back({"COMBATANT_INFO", 2, Regex(R"(/^(Player-[^,]+),(\d)(,(-?\d+)){22,},\[/)")});
        return list;
    }();
    return events;
}

const std::string& LogEvent::Item::group(std::size_t index) const {
    static const std::string none;
    return output && index < output->size() ? (*output)[index] : none;
}

const std::vector<std::string>& LogEvent::includes() {
    static const std::vector<std::string> keys = {"BID", "Title", "Version", "Expansion"};
    return keys;
}

LogEvent::LogEvent(const std::string& moviesPath, tavrin::Clock& clock)
    : clock_(clock),
      moviesPath_(moviesPath),
      subPath_(moviesPath + std::string(command::moviesFolder)),
      logPath_(moviesPath + std::string(command::commandFolder)),
      wow_(WowGame::shared()) {}

void LogEvent::followMoviesFolder(std::function<std::optional<std::string>()> moviesFolder) {
    moviesFolder_ = std::move(moviesFolder);
    useMoviesFolder();
}

void LogEvent::useMoviesFolder() {
    const auto chosen = moviesFolder_ ? moviesFolder_() : std::nullopt;
    folderChosen_ = chosen.has_value();
    folderMissingTold_ = false;
    subPath_ = chosen ? *chosen + "/" : moviesPath_ + std::string(command::moviesFolder);
    logPath_ = subPath_ + ".logs/";
}

bool LogEvent::prepareMatchFolder() {
    if (tavrin::prepareMoviesFolder(subPath_, folderChosen_)) {
        tavrin::createDirectory(logPath_);
        return true;
    }
    if (!std::exchange(folderMissingTold_, true)) {
        std::cerr << "Parlan: the movies folder " << subPath_
                  << " is missing (is its drive mounted?): no commands, subtitles or match log are written "
                     "there until it is back"
                  << std::endl;
    }
    return false;
}

}  // namespace parlan
