// SPDX-License-Identifier: GPL-3.0-or-later
#include "replay/Replay.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "engine/CommandFile.h"
#include "engine/LogFiles.h"
#include "engine/LogParser.h"

namespace parlan {
namespace {

std::set<std::string> commandStamps(const std::string& folder) {
    std::set<std::string> stamps;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == command::commandExtension) {
            stamps.insert(entry.path().stem().string());
        }
    }
    return stamps;
}

// The text of the first cue of `event` in a subtitle file ("" when there is none).
std::string cueText(const std::string& subtitlePath, std::string_view event) {
    std::ifstream file(subtitlePath);
    const std::string prefix = std::string(event) + ": ";
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.starts_with(prefix)) {
            return line.substr(prefix.size());
        }
    }
    return {};
}

}  // namespace

std::optional<std::vector<ReplayedMatch>> replayLog(const std::string& logPath,
                                                    const std::string& moviesPath) {
    struct stat attributes {};
    if (::stat(logPath.c_str(), &attributes) != 0 || !S_ISREG(attributes.st_mode)) {
        return std::nullopt;
    }
    LineClock clock;
    LogParser parser(moviesPath, clock);
    LogFiles logs(parser, clock);
    logs.setLineDateObserver([&clock](tavrin::Date date) { clock.set(date); });

    const auto before = commandStamps(parser.logPath());
    logs.onFileComplete(logPath);

    std::vector<ReplayedMatch> matches;
    const std::string openStamp = parser.inMatch() ? parser.stamp() : "";
    for (const auto& stamp : commandStamps(parser.logPath())) {
        if (before.contains(stamp)) {
            continue;
        }
        const std::string subtitles = parser.subPath() + stamp + std::string(command::subtitleExtension);
        ReplayedMatch match{stamp, cueText(subtitles, "Start"), cueText(subtitles, "End")};
        if (stamp == openStamp && match.zone.empty()) {
            const auto zone = parser.playData().find("ZoneName");
            match.zone = zone != parser.playData().end() ? zone->second : "";
        }
        matches.push_back(std::move(match));
    }
    return matches;
}

}  // namespace parlan
