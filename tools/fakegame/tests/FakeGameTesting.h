#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "log/ArenaMatch.h"
#include "log/LineSource.h"
#include "log/LogSession.h"

namespace fakegame::testing {

using tavrin::testing::ManualClock;
using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;

inline std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

// Settings for a session writing into `folder`, changed by `change`.
template <typename Change = void (*)(SessionSettings&)>
SessionSettings intoFolder(
    const std::string& folder, Change change = [](SessionSettings&) {}) {
    SessionSettings settings;
    settings.logsFolder = folder;
    change(settings);
    return settings;
}

inline ArenaSettings arenaMatches(int seconds, int matches, std::uint64_t seed) {
    ArenaSettings settings;
    settings.matchLength = std::chrono::seconds(seconds);
    settings.matches = matches;
    settings.seed = seed;
    return settings;
}

inline BurstSettings burstsOf(std::uint64_t seed, std::size_t averageBytes) {
    BurstSettings settings;
    settings.seed = seed;
    settings.averageBytes = averageBytes;
    return settings;
}

// Runs the session on a manual clock, which jumps where a real one would wait; the files written.
inline std::vector<std::string> runSession(LineSource& source, SessionSettings settings, ManualClock& clock) {
    return LogSession(std::move(settings), clock).run(source);
}

}  // namespace fakegame::testing
