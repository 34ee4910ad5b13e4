// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin {

// Wall-clock dates; spans are double-precision seconds.
using Date = std::chrono::system_clock::time_point;

// A combat-log time, "MM/dd/yyyy HH:mm:ss.SSS" in the local time zone; month and day of one or two
// digits, four-digit year. Nothing for text that is not such a time or names no real date.
std::optional<Date> dateTimeDot(std::string_view text);

// "yyyy-MM-dd HH.mm.ss" in the local time zone: the stamp every match file is named after.
std::string fileStamp(Date date);
// ISO 8601 local time with milliseconds and the UTC offset: "2024-09-13T13:31:52.307+08:00".
std::string isoLocalTime(Date date);
// Whether `text` has the form fileStamp gives, naming a real date and time.
bool isFileStamp(std::string_view text);

// Seconds from `from` to `to`, with fraction.
double secondsBetween(Date from, Date to);

// Seconds from `then` to `now`, rounded half away from zero to the millisecond: the age of a file or a line.
double ageInSeconds(Date then, Date now);

}  // namespace tavrin
