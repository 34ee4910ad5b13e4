// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/LogEvent.h"

namespace parlan {

// Turns combat-log lines into dispatched events. Keeps the set of events wanted at the moment, so
// that most lines are dropped after one anchored pattern search. Being the LogEvent too, it is the
// one match tracker. All calls come from the polling thread.
class LogParser : public LogEvent {
public:
    struct Head {
        std::string time;  // "M/D/YYYY HH:mm:ss.SSS"
        std::string event;
        std::string data;  // everything after the comma that follows the event name
        bool ignore = false;
    };

    // `moviesPath` is the user's Movies folder; the command folder and the subtitles lie below it.
    LogParser(const std::string& moviesPath, tavrin::Clock& clock);

    // The head of a trimmed line whose event is wanted; during a match the line goes to the match log.
    std::optional<Head> head(std::string_view line);
    // Matches the line's data against its event's pattern and dispatches it; the item that was
    // dispatched, or null.
    const Item* body(const Head& record);

    const std::vector<Item>& eventFilter() const { return eventFilter_; }
    const std::vector<std::string_view>& eventNames() const { return eventNames_; }
    static const Regex& headPattern();

private:
    void followForRecord(const Regex::Match& head, std::string_view line, bool wanted);
    void recomputeEventNames(int minimumFlag);

    std::vector<Item> eventFilter_;
    std::vector<std::string_view> eventNames_;  // the active set, in registry order
};

}  // namespace parlan
