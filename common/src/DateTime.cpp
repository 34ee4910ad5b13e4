// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/DateTime.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tavrin {
namespace {

// Reads `count` ASCII digits at `pos`, advancing it.
bool readDigits(std::string_view text, std::size_t& pos, std::size_t count, int& value) {
    if (pos + count > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    pos += count;
    return true;
}

// One or two digits followed by `separator`.
bool readShortField(std::string_view text, std::size_t& pos, char separator, int& value) {
    const std::size_t end = text.find(separator, pos);
    if (end == std::string_view::npos || end == pos || end - pos > 2) {
        return false;
    }
    if (!readDigits(text, pos, end - pos, value)) {
        return false;
    }
    ++pos;
    return true;
}

bool readSeparator(std::string_view text, std::size_t& pos, char separator) {
    if (pos >= text.size() || text[pos] != separator) {
        return false;
    }
    ++pos;
    return true;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

std::optional<Date> dateTimeDot(std::string_view text) {
    std::size_t pos = 0;
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    const bool parsed = readShortField(text, pos, '/', month) && readShortField(text, pos, '/', day) &&
                        readDigits(text, pos, 4, year) && readSeparator(text, pos, ' ') &&
                        readDigits(text, pos, 2, hour) && readSeparator(text, pos, ':') &&
                        readDigits(text, pos, 2, minute) && readSeparator(text, pos, ':') &&
                        readDigits(text, pos, 2, second) && readSeparator(text, pos, '.') &&
                        readDigits(text, pos, 3, millisecond) && pos == text.size();
    // A Date counts nanoseconds, about 292 years either side of 1970: within 1970 to 2199 every date
    // and every difference of two dates (ages, subtitle offsets) stays representable.
    if (!parsed || year < 1970 || year > 2199 || month < 1 || month > 12 || day < 1 ||
        day > daysInMonth(year, month) || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    // Lines arrive in bursts that share their second; mktime is the costly part.
    struct Memo {
        int year = -1, month = 0, day = 0, hour = 0, minute = 0, second = 0;
        std::time_t seconds = 0;
    };
    thread_local Memo memo;
    if (memo.year != year || memo.month != month || memo.day != day || memo.hour != hour ||
        memo.minute != minute || memo.second != second) {
        std::tm fields{};
        fields.tm_year = year - 1900;
        fields.tm_mon = month - 1;
        fields.tm_mday = day;
        fields.tm_hour = hour;
        fields.tm_min = minute;
        fields.tm_sec = second;
        fields.tm_isdst = -1;
        // -1 is also a real second (the one before the epoch); only a failing mktime leaves tm_wday alone.
        fields.tm_wday = -1;
        const std::time_t seconds = std::mktime(&fields);
        if (seconds == static_cast<std::time_t>(-1) && fields.tm_wday == -1) {
            return std::nullopt;
        }
        memo = {year, month, day, hour, minute, second, seconds};
    }
    return std::chrono::system_clock::from_time_t(memo.seconds) + std::chrono::milliseconds(millisecond);
}

std::string fileStamp(Date date) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::floor<std::chrono::seconds>(date)));
    std::tm fields{};
    if (localtime_r(&seconds, &fields) == nullptr) {
        return {};
    }
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H.%M.%S", &fields);
    return std::string(text, length);
}

std::string isoLocalTime(Date date) {
    const auto whole = std::chrono::floor<std::chrono::seconds>(date);
    const std::time_t seconds = std::chrono::system_clock::to_time_t(whole);
    std::tm fields{};
    if (localtime_r(&seconds, &fields) == nullptr) {
        return {};
    }
    char text[64];
    std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &fields);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(date - whole).count();
    const long offset = fields.tm_gmtoff / 60;
    length += static_cast<std::size_t>(std::snprintf(
        text + length, sizeof text - length, ".%03d%c%02ld:%02ld", static_cast<int>(milliseconds),
        offset < 0 ? '-' : '+', std::labs(offset) / 60, std::labs(offset) % 60));
    return std::string(text, length);
}

bool isFileStamp(std::string_view text) {
    std::size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const bool parsed =
        readDigits(text, pos, 4, year) && readSeparator(text, pos, '-') && readDigits(text, pos, 2, month) &&
        readSeparator(text, pos, '-') && readDigits(text, pos, 2, day) && readSeparator(text, pos, ' ') &&
        readDigits(text, pos, 2, hour) && readSeparator(text, pos, '.') && readDigits(text, pos, 2, minute) &&
        readSeparator(text, pos, '.') && readDigits(text, pos, 2, second) && pos == text.size();
    return parsed && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month) && hour <= 23 &&
           minute <= 59 && second <= 60;
}

double secondsBetween(Date from, Date to) {
    return std::chrono::duration<double>(to - from).count();
}

double ageInSeconds(Date then, Date now) {
    // Whole nanoseconds divided straight into milliseconds, so a half is exactly a half when rounded.
    const double milliseconds = std::chrono::duration<double, std::milli>(then - now).count();
    return std::round(milliseconds) / -1000.0;
}

}  // namespace tavrin
