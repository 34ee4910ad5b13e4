// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "engine/LogParser.h"

namespace parlan::testing {

using tavrin::testing::ManualClock;
using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;

// A local wall-clock date (the tests run with a fixed TZ).
inline Date localDate(int year, int month, int day, int hour, int minute, int second) {
    std::tm fields{second, minute, hour, day, month - 1, year - 1900, 0, 0, -1, 0, nullptr};
    return std::chrono::system_clock::from_time_t(std::mktime(&fields));
}

// Sets a file's modification time.
inline void touch(const std::string& path, Date when) {
    std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(when));
}

// A combat-log line as the game writes it: date and time with the UTC-offset digit, two blanks.
inline std::string logLine(const std::string& time, const std::string& event, const std::string& data) {
    return time + "  " + event + "," + data;
}

// A parser over a temporary Movies folder, its clock at 7 March 2025 21:04:07 local time.
class EngineTest : public ::testing::Test {
protected:
    EngineTest() : clock(localDate(2025, 3, 7, 21, 4, 7)), parser(movies.path(), clock) {}

    // The line through head and body as the follower hands it on; the dispatched item or null.
    const LogEvent::Item* feed(const std::string& line) {
        const auto head = parser.head(line);
        return head ? parser.body(*head) : nullptr;
    }
    std::string commandFile(const std::string& stamp = "2025-03-07 21.04.07") const {
        return readFile(parser.logPath() + stamp + ".cmd");
    }
    std::string subtitles(const std::string& stamp = "2025-03-07 21.04.07") const {
        return readFile(parser.subPath() + stamp + ".srt");
    }

    TemporaryFolder movies;
    ManualClock clock;
    LogParser parser;
};

// Lines of a short 2v2 match: the player (team 1, Holy Paladin) on a realm with an apostrophe.
namespace lines {
inline const std::string version = logLine("3/7/2025 21:04:00.0001", "COMBAT_LOG_VERSION",
                                           "22,ADVANCED_LOG_ENABLED,1,BUILD_VERSION,11.1.0,PROJECT_ID,1");
inline const std::string enterArena =
    logLine("3/7/2025 21:04:07.4251", "ZONE_CHANGE", "1552,\"Cage of Carnage\",0");
inline const std::string leaveArena = logLine("3/7/2025 21:09:00.0001", "ZONE_CHANGE", "1,\"Orgrimmar\",0");
inline const std::string playerAura = logLine(
    "3/7/2025 21:04:10.0001", "SPELL_AURA_APPLIED",
    "Player-11-0A,\"Sól-Mal'Ganis-US\",0x511,0x0,Player-11-0A,\"Sól-Mal'Ganis-US\",0x511,0x0,1459,\"Arcane "
    "Intellect\",0x40,BUFF");
inline const std::string matchStart = logLine("3/7/2025 21:04:30.0001", "ARENA_MATCH_START", "1552,40,2v2,1");
// COMBATANT_INFO with `count` numbers after the team (every third one negative), the last one
// `specialization`.
inline std::string combatant(const std::string& guid, int team, int specialization, int count = 22) {
    std::string data = guid + "," + std::to_string(team);
    for (int i = 1; i < count; ++i) {
        data += "," + std::to_string(i % 3 == 0 ? -230 : i);
    }
    return logLine("3/7/2025 21:04:30.0001", "COMBATANT_INFO",
                   data + "," + std::to_string(specialization) + ",[(1,2,3)],(0,0,0,0),[]");
}
inline std::string death(const std::string& time, const std::string& name,
                         const std::string& flags = "0x548") {
    return logLine(
        time, "UNIT_DIED",
        "0000000000000000,nil,0x80000000,0x80000000,Player-11-0B,\"" + name + "\"," + flags + ",0x0,0");
}
inline std::string matchEnd(const std::string& winner) {
    return logLine("3/7/2025 21:07:10.2001", "ARENA_MATCH_END", winner + ",183,1523,1490");
}
}  // namespace lines

}  // namespace parlan::testing
