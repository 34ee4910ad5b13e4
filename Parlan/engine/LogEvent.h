// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Clock.h"
#include "engine/MatchRecordBuilder.h"
#include "engine/Regex.h"
#include "engine/WowGame.h"

namespace parlan {

using tavrin::Date;

// The match record and tracker: follows one arena match from the dispatched combat-log events and
// leaves the command, subtitle and log files behind. Never created on its own: LogParser derives from
// it. All calls come from the proxy's polling thread.
class LogEvent {
public:
    // A followed event: its name, how long it stays wanted once matched (0, 1 or 2), and its pattern.
    struct Definition {
        std::string name;
        int flag;
        Regex regex;
    };

    // A followed event together with the texts of its last successful match: the whole match and
    // groups 1 to 4; absent until the first match and again after a reset.
    struct Item {
        const Definition* definition;
        std::optional<std::array<std::string, 5>> output;

        const std::string& name() const { return definition->name; }
        int flag() const { return definition->flag; }
        const Regex& regex() const { return definition->regex; }
        // Group 1 to 4 of the last match ("" when absent).
        const std::string& group(std::size_t index) const;
    };

    struct TimeLine {
        Date date;
        std::string event;
        std::string text;
    };

    // The eight followed events in registry order, their patterns compiled once.
    static const std::vector<Definition>& registedEvents();

    // "HH:MM:SS,mmm" for a subtitle; a negative offset reads as the start.
    static std::string fixedFormatTimeDetailComma(double seconds);

    // The dispatch: the handler for the item's event. True exactly when the event ended a match.
    bool onEvent(Date date, const Item& item);
    // The idle check with the time of the last completed read: a match whose log has been silent for
    // more than 1200 seconds ends.
    void onEventIdle(Date lastRead);

    bool SPELL_AURA_APPLIED(const Item& item);
    bool UNIT_DIED(Date date, const Item& item);
    bool ZONE_CHANGE(Date date, const Item& item);
    bool MAP_CHANGE(const Item& item);
    bool ARENA_MATCH_START(Date date, const Item& item);
    bool ARENA_MATCH_END(Date date, const Item& item);
    bool COMBATANT_INFO(const Item& item);
    bool COMBAT_LOG_VERSION(const Item& item);

    // The match outputs.
    void writeCmd(std::string_view text);
    void writeLog(std::string_view text);
    void onEventStart(Date date);
    void onEventEnd(Date date, bool pause);
    void removeAll();

    // Where the match files go: the folder `moviesFolder` gives (nothing: TavrinMovies in the Movies
    // folder), asked now and at each match start, so that a change never splits a match.
    void followMoviesFolder(std::function<std::optional<std::string>()> moviesFolder);
    // Whether the match files can be written: the default movies folder is made when missing, a chosen one
    // is not (its drive may not be mounted: nothing is written then, and stderr says so once a match); then
    // its command folder is made.
    bool prepareMatchFolder();

    const std::string& subPath() const { return subPath_; }
    const std::string& logPath() const { return logPath_; }
    const std::optional<std::string>& version() const { return version_; }
    const std::optional<std::string>& zoneType() const { return zoneType_; }
    const std::optional<Date>& startDate() const { return startDate_; }
    // The name of the current (or last) match's files.
    const std::string& stamp() const { return stamp_; }
    const std::map<std::string, std::string>& playData() const { return playData_; }
    const std::vector<TimeLine>& timeLines() const { return timeLines_; }
    bool inMatch() const { return !timeLines_.empty(); }

    static constexpr std::string_view arrow = " --> ";
    static constexpr std::string_view enter = "\r\n";
    static const std::vector<std::string>& includes();

protected:
    // `moviesPath` is the user's Movies folder; the clock gives "now" and the end-of-match pause.
    LogEvent(const std::string& moviesPath, tavrin::Clock& clock);
    ~LogEvent() = default;

    tavrin::Clock& clock_;
    // The match record beside the subtitles, gathered while the match goes on.
    MatchRecordBuilder record_;
    // The whole data of the line being dispatched, for the figures its pattern does not take.
    std::string_view lineData_;

private:
    std::string subtitleText(const std::vector<MatchRecordBuilder::Cue>& rounds) const;
    MatchRecordBuilder::Ending ending(bool matchEnd) const;
    void writeRecord(const tavrin::MatchRecord& record);
    void useMoviesFolder();

    std::string moviesPath_;
    std::function<std::optional<std::string>()> moviesFolder_;
    bool folderChosen_ = false;
    bool folderMissingTold_ = false;
    std::string subPath_;
    std::string logPath_;
    const WowGame& wow_;
    std::optional<std::string> version_;
    std::optional<std::string> zoneType_;
    std::optional<Date> startDate_;
    std::string stamp_;
    std::map<std::string, std::string> playData_;
    std::vector<TimeLine> timeLines_;
};

}  // namespace parlan
