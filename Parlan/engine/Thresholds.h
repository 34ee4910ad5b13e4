// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace parlan {

// A combat log counts as live only if modified less than this long ago (seconds).
inline constexpr double fileDelay = 10.0;
// A combat-log line older than this is skipped, and a match whose log has been silent this long ends.
inline constexpr double dataDelay = 1200.0;
// The most of a log that one pass reads back (bytes).
inline constexpr std::int64_t maxSize = 1048576;
// The per-match log file is written.
inline constexpr bool saveLogs = true;

}  // namespace parlan
