// SPDX-License-Identifier: GPL-3.0-or-later
// The match outputs of LogEvent: command file, subtitle file, match record, match log and the reset.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/FileOutputStream.h"
#include "common/Folders.h"
#include "common/Text.h"
#include "engine/CommandFile.h"
#include "engine/LogEvent.h"

namespace parlan {

// Each write makes the command folder again: it may have been removed during the match, and a lost
// End would leave the recorder recording.
void LogEvent::writeCmd(std::string_view text) {
    if (prepareMatchFolder()) {
        tavrin::appendToFile(logPath_ + stamp_ + std::string(command::commandExtension), text);
    }
}

void LogEvent::writeLog(std::string_view text) {
    if (prepareMatchFolder()) {
        tavrin::appendToFile(logPath_ + stamp_ + std::string(command::logExtension), text);
    }
}

// Files are named after the second the match started in. One that starts in a second an earlier match
// already named (a catch-up pass reads several in one go) takes the next free second, so that each match
// gets a movie and subtitles of its own.
void LogEvent::onEventStart(Date date) {
    useMoviesFolder();
    std::error_code error;
    for (;; date += std::chrono::seconds(1)) {
        stamp_ = tavrin::fileStamp(date);
        if (!std::filesystem::exists(logPath_ + stamp_ + std::string(command::commandExtension), error) &&
            !std::filesystem::exists(subPath_ + stamp_ + std::string(command::subtitleExtension), error)) {
            break;
        }
    }
    writeCmd(command::startText);
}

std::string LogEvent::fixedFormatTimeDetailComma(double seconds) {
    // Entries read back from before the start (a catch-up after the start was processed) sit at the
    // start, and NaN cannot reach a subtitle: every stamp stays valid SubRip.
    if (!(seconds > 0.0)) {
        seconds = 0.0;
    }
    seconds = std::min(seconds, 9.0e15);  // far beyond any match, inside 64-bit arithmetic
    auto whole = static_cast<std::int64_t>(seconds);
    auto milliseconds =
        static_cast<std::int64_t>(std::round((seconds - static_cast<double>(whole)) * 1000.0));
    if (milliseconds >= 1000) {
        whole += 1;
        milliseconds -= 1000;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64 ",%03" PRId64, whole / 3600,
                  whole / 60 % 60, whole % 60, milliseconds);
    return text;
}

// The timeline's cues, with a shuffle's round cues among them, then the facts' zero-length cues.
std::string LogEvent::subtitleText(const std::vector<MatchRecordBuilder::Cue>& rounds) const {
    const Date start = timeLines_.front().date;
    const Date last = timeLines_.back().date;
    std::string text;
    std::size_t number = 0;
    const auto cue = [&](Date date, std::string_view line) {
        const double offset = tavrin::secondsBetween(start, date);
        text += std::to_string(++number);
        text += enter;
        text += fixedFormatTimeDetailComma(offset);
        text += arrow;
        text += fixedFormatTimeDetailComma(offset + 2.0);
        text += enter;
        text += line;
        text += enter;
        text += enter;
    };
    auto round = rounds.begin();
    for (std::size_t index = 0; index < timeLines_.size(); ++index) {
        for (; round != rounds.end() && round->before <= index; ++round) {
            cue(round->date, round->text);
        }
        cue(timeLines_[index].date, timeLines_[index].event + ": " + timeLines_[index].text);
    }
    const std::string total = fixedFormatTimeDetailComma(tavrin::secondsBetween(start, last));
    for (const auto& [key, value] : playData_) {
        text += std::to_string(++number);
        text += enter;
        text += total;
        text += arrow;
        text += total;
        text += enter;
        text += key + ": " + value;
        text += enter;
        text += enter;
    }
    return text;
}

MatchRecordBuilder::Ending LogEvent::ending(bool matchEnd) const {
    const auto fact = [this](const std::string& key) -> std::optional<std::string> {
        const auto found = playData_.find(key);
        return found != playData_.end() ? std::optional<std::string>(found->second) : std::nullopt;
    };
    return {.stamp = stamp_,
            .start = timeLines_.front().date,
            .last = timeLines_.back().date,
            .entries = timeLines_.size(),
            .kind = matchEnd                           ? "match end"
                    : timeLines_.back().text == "Idle" ? "idle"
                                                       : "zone",
            .zoneId = tavrin::parseInteger(fact("ZoneNumber").value_or("")).value_or(0),
            .zoneName = fact("ZoneName").value_or(""),
            .bracket = fact("ArenaType"),
            .playerGuid = fact("PlayerGUID"),
            .playerName = fact("PlayerName")};
}

// Written beside and renamed, so that a reader never sees half a record.
void LogEvent::writeRecord(const tavrin::MatchRecord& record) {
    const std::string path = subPath_ + stamp_ + std::string(command::recordExtension);
    const std::string written = path + ".new";
    std::error_code error;
    if (std::ofstream(written, std::ios::binary | std::ios::trunc) << tavrin::toJson(record)) {
        std::filesystem::rename(written, path, error);
    } else {
        std::filesystem::remove(written, error);
    }
}

void LogEvent::onEventEnd(Date /*date*/, bool pause) {
    if (timeLines_.size() < 2) {
        return;
    }
    // Without its folder the match ends all the same, with nothing written.
    if (prepareMatchFolder()) {
        auto subtitles =
            tavrin::FileOutputStream::open(subPath_ + stamp_ + std::string(command::subtitleExtension));
        if (!subtitles) {
            return;  // the match stays open; the next ending event tries again
        }
        const auto built = record_.build(ending(pause));
        subtitles->write(subtitleText(built.cues));
        // Closed before the pause, so the subtitles are on disk when the recorder sees the End command.
        subtitles->close();
        // The record too, written within the pause: the End command comes no later for it.
        const Date closed = clock_.now();
        writeRecord(built.record);
        if (pause) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now() - closed);
            clock_.sleepFor(std::chrono::seconds(1) -
                            std::clamp(spent, std::chrono::milliseconds(0),
                                       std::chrono::milliseconds(std::chrono::seconds(1))));
        }
        writeCmd(command::endText);
    }
    removeAll();
    timeLines_.clear();
    record_.clear();
    zoneType_.reset();
    startDate_.reset();
}

void LogEvent::removeAll() {
    const auto& kept = includes();
    std::erase_if(playData_, [&kept](const auto& entry) {
        return std::find(kept.begin(), kept.end(), entry.first) == kept.end();
    });
}

}  // namespace parlan
