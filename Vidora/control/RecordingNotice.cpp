// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/RecordingNotice.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "control/ContentView.h"

namespace vidora {

std::map<std::string, std::string, std::less<>> matchFacts(std::string_view subtitles) {
    std::map<std::string, std::string, std::less<>> facts;
    while (!subtitles.empty()) {
        const auto end = std::min(subtitles.find('\n'), subtitles.size());
        std::string_view line = subtitles.substr(0, end);
        subtitles.remove_prefix(std::min(end + 1, subtitles.size()));
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        // Cue numbers and times hold no ": "; the timeline's own cues (Start, Death, End) do no harm.
        const auto colon = line.find(": ");
        const auto key = line.substr(0, colon);
        if (colon != std::string_view::npos && colon > 0 && std::ranges::all_of(key, [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            })) {
            facts.insert_or_assign(std::string(key), std::string(line.substr(colon + 2)));
        }
    }
    return facts;
}

std::string problemSentence(RecordingProblem problem, std::string_view target) {
    switch (problem) {
        case RecordingProblem::noWindow:
            return (target.empty() ? std::string("The game") : std::string(target)) +
                   " has no window to record.";
        case RecordingProblem::shareRefused:
            return "The screen share was refused, or the desktop cannot share the screen.";
        case RecordingProblem::shareUnanswered:
            return "The screen-share dialog was not answered.";
        case RecordingProblem::noPicture:
            return "No picture came from the screen or window to record.";
        case RecordingProblem::sourceEnded:
            return "The screen or window being recorded went away, or the desktop stopped sharing it.";
        case RecordingProblem::diskFull:
            return "The disk is full.";
        case RecordingProblem::cannotWrite:
            return "The movie could not be written.";
        case RecordingProblem::encoderFailed:
            return "The video encoder failed.";
    }
    return {};
}

std::optional<RecordingNotice> describeRecording(
    const RecordingResult& result, bool byHand,
    const std::map<std::string, std::string, std::less<>>& facts) {
    if (result.problem) {
        const bool endLost = result.fileKept && result.endLost;
        RecordingNotice notice{.title = endLost           ? "End of the recording lost"
                                        : result.fileKept ? "Recording stopped early"
                                        : byHand          ? "Recording did not start"
                                                          : "Match not recorded",
                               .body = problemSentence(*result.problem, result.target),
                               .movie = std::nullopt};
        if (endLost) {
            notice.body += " Its last seconds could not be written; the rest is in " + result.movie + ".";
            notice.movie = result.movie;
        } else if (result.fileKept) {
            notice.body += " What was recorded is in " + result.movie + ".";
            notice.movie = result.movie;
        }
        return notice;
    }
    if (byHand) {
        return std::nullopt;
    }
    if (!result.fileKept) {
        return RecordingNotice{.title = "Match not recorded",
                               .body = "The match ended before recording began.",
                               .movie = std::nullopt};
    }
    const auto fact = [&facts](std::string_view key) {
        const auto found = facts.find(key);
        return found != facts.end() ? found->second : std::string();
    };
    const std::string bracket = fact("ArenaType");
    const std::string arena = fact("ZoneName");
    const std::string match = bracket.empty() ? arena : arena.empty() ? bracket : bracket + " in " + arena;
    std::string body;
    // The winning team is the player's own only when the player's team is known; a shuffle's rounds
    // have no one winner.
    if (!fact("PlayerTeam").empty() && bracket.find("Shuffle") == std::string::npos) {
        body = fact("WinTeam") == "Home" ? "Won · " : fact("WinTeam") == "Away" ? "Lost · " : "";
    }
    body += ContentView::formatTime(result.seconds) + " · " +
            std::filesystem::path(result.movie).filename().string();
    return RecordingNotice{.title = (match.empty() ? std::string("Arena match") : match) + " recorded",
                           .body = body,
                           .movie = result.movie};
}

std::optional<RecordingNotice> describeRecording(const RecordingResult& result, bool byHand) {
    std::map<std::string, std::string, std::less<>> facts;
    if (!byHand && result.fileKept) {
        std::ifstream subtitles(std::filesystem::path(result.movie).replace_extension("srt"),
                                std::ios::binary);
        std::ostringstream text;
        text << subtitles.rdbuf();
        facts = matchFacts(text.str());
    }
    return describeRecording(result, byHand, facts);
}

}  // namespace vidora
