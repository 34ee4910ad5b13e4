// SPDX-License-Identifier: GPL-3.0-or-later
// The match outputs of LogEvent: command file, subtitle file, match log and the reset.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "common/FileOutputStream.h"
#include "common/Folders.h"
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

std::string LogEvent::subtitleText() const {
    const Date start = timeLines_.front().date;
    const Date last = timeLines_.back().date;
    std::string text;
    std::size_t number = 0;
    for (const auto& entry : timeLines_) {
        const double offset = tavrin::secondsBetween(start, entry.date);
        text += std::to_string(++number);
        text += enter;
        text += fixedFormatTimeDetailComma(offset);
        text += arrow;
        text += fixedFormatTimeDetailComma(offset + 2.0);
        text += enter;
        text += entry.event + ": " + entry.text;
        text += enter;
        text += enter;
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
        subtitles->write(subtitleText());
        // Closed before the pause, so the subtitles are on disk when the recorder sees the End command.
        subtitles->close();
        if (pause) {
            clock_.sleepFor(std::chrono::seconds(1));
        }
        writeCmd(command::endText);
    }
    removeAll();
    timeLines_.clear();
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
