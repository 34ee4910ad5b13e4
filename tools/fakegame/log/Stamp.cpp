// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/Stamp.h"

#include <cstdio>
#include <ctime>

namespace fakegame {
namespace {

// Reads `minimum` to `maximum` ASCII digits at `position`, advancing it.
bool readNumber(std::string_view text, std::size_t& position, std::size_t minimum, std::size_t maximum,
                int& value) {
    std::size_t count = 0;
    value = 0;
    while (count < maximum && position + count < text.size() && text[position + count] >= '0' &&
           text[position + count] <= '9') {
        value = value * 10 + (text[position + count] - '0');
        ++count;
    }
    position += count;
    return count >= minimum;
}

bool readCharacter(std::string_view text, std::size_t& position, char expected) {
    if (position >= text.size() || text[position] != expected) {
        return false;
    }
    ++position;
    return true;
}

std::tm localFields(Date date) {
    const std::time_t seconds =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(date));
    std::tm fields{};
    localtime_r(&seconds, &fields);
    return fields;
}

}  // namespace

std::optional<Stamp> parseStamp(std::string_view line) {
    Stamp stamp;
    std::size_t position = 0;
    if (!readNumber(line, position, 1, 2, stamp.month) || !readCharacter(line, position, '/') ||
        !readNumber(line, position, 1, 2, stamp.day)) {
        return std::nullopt;
    }
    stamp.shape.withYear = readCharacter(line, position, '/');
    if (stamp.shape.withYear && !readNumber(line, position, 4, 4, stamp.year)) {
        return std::nullopt;
    }
    if (!readCharacter(line, position, ' ') || !readNumber(line, position, 2, 2, stamp.hour) ||
        !readCharacter(line, position, ':') || !readNumber(line, position, 2, 2, stamp.minute) ||
        !readCharacter(line, position, ':') || !readNumber(line, position, 2, 2, stamp.second) ||
        !readCharacter(line, position, '.') || !readNumber(line, position, 3, 3, stamp.millisecond)) {
        return std::nullopt;
    }
    const std::size_t offsetStart = position;
    readCharacter(line, position, '-');
    int hours = 0;
    if (!readNumber(line, position, 1, 2, hours)) {
        position = offsetStart;
    }
    if (position >= line.size() || (line[position] != ' ' && line[position] != '\t')) {
        return std::nullopt;
    }
    stamp.offset = std::string(line.substr(offsetStart, position - offsetStart));
    stamp.shape.withOffset = !stamp.offset.empty();
    stamp.length = position;
    return stamp;
}

std::int64_t wallMilliseconds(const Stamp& stamp, int year) {
    std::tm fields{};
    fields.tm_year = (stamp.shape.withYear ? stamp.year : year) - 1900;
    fields.tm_mon = stamp.month - 1;
    fields.tm_mday = stamp.day;
    fields.tm_hour = stamp.hour;
    fields.tm_min = stamp.minute;
    fields.tm_sec = stamp.second;
    return static_cast<std::int64_t>(timegm(&fields)) * 1000 + stamp.millisecond;
}

std::string utcOffsetText(Date date) {
    return std::to_string(localFields(date).tm_gmtoff / 3600);
}

std::string formatStamp(Date date, StampShape shape) {
    const std::tm fields = localFields(date);
    const auto millisecond =
        std::chrono::floor<std::chrono::milliseconds>(date - std::chrono::floor<std::chrono::seconds>(date))
            .count();
    char text[64];
    if (shape.withYear) {
        std::snprintf(text, sizeof text, "%d/%d/%d %02d:%02d:%02d.%03d", fields.tm_mon + 1, fields.tm_mday,
                      fields.tm_year + 1900, fields.tm_hour, fields.tm_min, fields.tm_sec,
                      static_cast<int>(millisecond));
    } else {
        std::snprintf(text, sizeof text, "%d/%d %02d:%02d:%02d.%03d", fields.tm_mon + 1, fields.tm_mday,
                      fields.tm_hour, fields.tm_min, fields.tm_sec, static_cast<int>(millisecond));
    }
    std::string stamp = text;
    if (shape.withOffset) {
        stamp += std::to_string(fields.tm_gmtoff / 3600);
    }
    return stamp;
}

std::string logFileName(Date date) {
    const std::tm fields = localFields(date);
    char name[64];
    std::strftime(name, sizeof name, "WoWCombatLog-%m%d%y_%H%M%S.txt", &fields);
    return name;
}

}  // namespace fakegame
