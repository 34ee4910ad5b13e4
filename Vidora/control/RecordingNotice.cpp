// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/RecordingNotice.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
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

MatchSummary matchSummary(const std::map<std::string, std::string, std::less<>>& facts) {
    const auto fact = [&facts](std::string_view key) {
        const auto found = facts.find(key);
        return found != facts.end() ? found->second : std::string();
    };
    MatchSummary match{.bracket = fact("ArenaType"), .arena = fact("ZoneName"), .outcome = {}};
    if (!fact("PlayerTeam").empty() && match.bracket.find("Shuffle") == std::string::npos) {
        match.outcome = fact("WinTeam") == "Home" ? "Won" : fact("WinTeam") == "Away" ? "Lost" : "";
    }
    return match;
}

MatchSummary matchSummary(const tavrin::MatchRecord& record) {
    MatchSummary match{
        .bracket = record.bracket ? record.bracket->name : "", .arena = record.zone.name, .outcome = {}};
    if (!record.result) {
        return match;  // left before the end
    }
    if (record.bracket && record.bracket->shuffle) {
        if (record.result->roundsWon) {
            match.outcome = "Won " + std::to_string(*record.result->roundsWon) + " of " +
                            std::to_string(record.rounds.size()) + " rounds";
        }
    } else if (record.result->outcome) {
        const std::string& outcome = *record.result->outcome;
        match.outcome = outcome == "win"    ? "Won"
                        : outcome == "loss" ? "Lost"
                        : outcome == "draw" ? "Draw"
                                            : "";
    }
    return match;
}

std::string problemSentence(const RecordingResult& result) {
    const std::string folder = std::filesystem::path(result.movie).parent_path().string();
    switch (result.problem.value_or(RecordingProblem::cannotWrite)) {
        case RecordingProblem::noWindow:
            return (result.target.empty() ? std::string("The game") : result.target) +
                   " has no window to record.";
        case RecordingProblem::shareRefused:
            return "The screen share was refused, or the desktop cannot share the screen.";
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
        case RecordingProblem::folderMissing:
            return "The movies folder " + folder + " is missing: is its drive mounted?";
        case RecordingProblem::noRoom:
            return "Less than 1 GB is free on the disk of " + folder +
                   ": make room there, or lower the storage limit or choose another folder in Settings.";
    }
    return {};
}

std::optional<RecordingNotice> describeRecording(const RecordingResult& result, bool byHand,
                                                 const MatchSummary& match) {
    if (result.problem) {
        RecordingNotice notice{.title = result.fileKept ? "Recording stopped early"
                                        : byHand        ? "Recording did not start"
                                                        : "Match not recorded",
                               .body = problemSentence(result),
                               .movie = std::nullopt};
        if (result.fileKept) {
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
    const std::string name = match.bracket.empty() ? match.arena
                             : match.arena.empty() ? match.bracket
                                                   : match.bracket + " in " + match.arena;
    const std::string body = (match.outcome.empty() ? "" : match.outcome + " · ") +
                             ContentView::formatTime(result.seconds) + " · " +
                             std::filesystem::path(result.movie).filename().string();
    return RecordingNotice{.title = (name.empty() ? std::string("Arena match") : name) + " recorded",
                           .body = body,
                           .movie = result.movie};
}

std::optional<RecordingNotice> describeRecording(const RecordingResult& result, bool byHand) {
    MatchSummary match;
    if (!byHand && result.fileKept) {
        const auto text = [&result](const char* extension) {
            std::ifstream file(std::filesystem::path(result.movie).replace_extension(extension),
                               std::ios::binary);
            std::ostringstream read;
            read << file.rdbuf();
            return read.str();
        };
        const std::string record = text("json");
        std::string why;
        if (const auto read = tavrin::readMatchRecord(record, &why)) {
            match = matchSummary(*read);
        } else {
            if (!record.empty()) {
                std::clog << "Vidora: " << result.movie << ": " << why << std::endl;
            }
            match = matchSummary(matchFacts(text("srt")));
        }
    }
    return describeRecording(result, byHand, match);
}

RecordingNotice limitNotice(const std::string& movie, std::uint64_t limit) {
    char gigabytes[32];
    std::snprintf(gigabytes, sizeof gigabytes, "%g GB", static_cast<double>(limit) / 1e9);
    return {.title = "Storage limit smaller than a match",
            .body = std::filesystem::path(movie).filename().string() +
                    " alone takes more than the storage limit of " + gigabytes +
                    ". It is kept, but the next match's movie takes its place: raise the limit in Settings "
                    "to keep more than one.",
            .movie = movie};
}

}  // namespace vidora
