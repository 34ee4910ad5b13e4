// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/LogParser.h"

#include <algorithm>

#include "common/DateTime.h"
#include "common/Text.h"

namespace parlan {

const Regex& LogParser::headPattern() {
    // The date, one blank, a time of exactly HH:mm:ss.SSS, then the player's UTC offset as the game
    // writes it ("4" for +4, "12" for +12, "-5" for -5), white space, the event name and a comma.
    static const Regex pattern(R"(/^([\d\/]{8,10})\s(\d\d:\d\d:\d\d\.\d\d\d)(?:-?\d{1,2})?\s+(\w+),()/)");
    return pattern;
}

LogParser::LogParser(const std::string& moviesPath, tavrin::Clock& clock) : LogEvent(moviesPath, clock) {
    for (const auto& definition : registedEvents()) {
        eventFilter_.push_back({&definition, std::nullopt});
        eventNames_.push_back(definition.name);
    }
}

std::optional<LogParser::Head> LogParser::head(std::string_view line) {
    const auto match = headPattern().search(line);
    if (!match) {
        return std::nullopt;
    }
    const std::string_view event = match->group(3);
    const bool wanted = std::find(eventNames_.begin(), eventNames_.end(), event) != eventNames_.end();
    if (inMatch()) {
        followForRecord(*match, line, wanted);
    }
    if (!wanted) {
        return std::nullopt;
    }
    Head record;
    record.time.reserve(match->group(1).size() + 13);
    record.time.append(match->group(1)).append(" ").append(match->group(2));
    record.event = std::string(event);
    record.data = std::string(line.substr(match->begin(4)));
    record.ignore = event == "COMBAT_LOG_VERSION";
    if (inMatch()) {
        const std::int64_t length = tavrin::characterCount(record.time);
        std::string logLine = tavrin::substring(record.time, length - 12, length);
        logLine.append(" ").append(record.event).append(" ").append(record.data).append(" ").append(enter);
        writeLog(logLine);
    }
    return record;
}

const LogEvent::Item* LogParser::body(const Head& record) {
    const auto date = tavrin::dateTimeDot(record.time);
    if (!date) {
        return nullptr;
    }
    const auto found = std::find_if(eventFilter_.begin(), eventFilter_.end(),
                                    [&record](const Item& item) { return item.name() == record.event; });
    if (found == eventFilter_.end()) {
        return nullptr;
    }
    Item& item = *found;
    const auto match = item.regex().search(record.data);
    if (!match) {
        return nullptr;
    }
    item.output.emplace();
    for (std::size_t i = 0; i < item.output->size(); ++i) {
        (*item.output)[i] = std::string(match->group(i));
    }
    lineData_ = record.data;
    const bool ended = onEvent(*date, item);
    lineData_ = {};
    if (ended) {
        // A match ended: every event but the version is wanted again.
        for (auto it = eventFilter_.begin() + 1; it != eventFilter_.end(); ++it) {
            it->output.reset();
        }
        recomputeEventNames(1);
    } else if (item.flag() <= 1) {
        recomputeEventNames(2);
    }
    return &item;
}

// What the match record needs beyond the followed events, at little cost: the names and the player
// from the units at the head of each line while some are unknown, and the start of each shuffle round
// (ARENA_MATCH_START leaves the active set after the first). Neither is copied to the match log.
void LogParser::followForRecord(const Regex::Match& head, std::string_view line, bool wanted) {
    const std::string_view data = line.substr(head.begin(4));
    if (record_.wantsUnits()) {
        record_.noteUnits(data);
    }
    if (wanted || head.group(3) != "ARENA_MATCH_START") {
        return;
    }
    const auto start = std::find_if(eventFilter_.begin(), eventFilter_.end(),
                                    [](const Item& item) { return item.name() == "ARENA_MATCH_START"; });
    const auto date = tavrin::dateTimeDot(std::string(head.group(1)) + " " + std::string(head.group(2)));
    const auto fields = start->regex().search(data);
    if (!date || !fields) {
        return;
    }
    const auto instanceId = tavrin::parseInteger(fields->group(1));
    if (instanceId && WowGame::shared().getInstanceType(*instanceId)) {
        record_.roundStarted(*date, fields->group(3), data, timeLines().size());
    }
}

// Wanted: the events of at least `minimumFlag`, and those that have not matched since the last reset.
void LogParser::recomputeEventNames(int minimumFlag) {
    eventNames_.clear();
    for (const auto& item : eventFilter_) {
        if (item.flag() >= minimumFlag || !item.output) {
            eventNames_.push_back(item.name());
        }
    }
}

}  // namespace parlan
