// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/DateTime.h"

namespace fakegame {

using tavrin::Date;

// How a line's time stamp is written: "2/14 23:24:58.661" (no year, no UTC offset),
// "9/13/2024 13:31:52.3078" (offset 8 right after the milliseconds), "7/28/2024 14:36:49.528-4".
struct StampShape {
    bool withYear = true;
    bool withOffset = true;

    bool operator==(const StampShape&) const = default;
};

// A line's time stamp as it was written.
struct Stamp {
    StampShape shape;
    int year = 0;  // 0 when the shape has none
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    std::string offset;      // as written: "8", "-4", or "" without one
    std::size_t length = 0;  // bytes, up to the blanks that follow
};

// The stamp a line starts with; nothing when it starts with none.
std::optional<Stamp> parseStamp(std::string_view line);

// The stamp's wall-clock fields as milliseconds since 1970 read as UTC, `year` standing in for a missing
// year: only differences between such values mean anything.
std::int64_t wallMilliseconds(const Stamp& stamp, int year);

// The machine's UTC offset at `date` in whole hours as the game writes it: "1", "-5", "0".
std::string utcOffsetText(Date date);

// `date` as local time in `shape`, the offset being the machine's.
std::string formatStamp(Date date, StampShape shape);

// The game's log file name for a session started at the local time `date`:
// "WoWCombatLog-MMDDYY_HHMMSS.txt".
std::string logFileName(Date date);

}  // namespace fakegame
