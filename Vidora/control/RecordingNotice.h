// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "capture/Recorder.h"
#include "common/MatchRecord.h"

namespace vidora {

// A desktop notification's text, and the movie its action shows.
struct RecordingNotice {
    std::string title;
    std::string body;
    std::optional<std::string> movie;
    bool operator==(const RecordingNotice&) const = default;
};

// The match facts the proxy writes at the end of a match's subtitles, one "Key: Value" cue each
// (ZoneName, ArenaType, WinTeam, PlayerTeam, ...); later cues win.
std::map<std::string, std::string, std::less<>> matchFacts(std::string_view subtitles);

// What a notice tells of a match: its bracket and arena, and the player's result ("Won", "Lost",
// "Won 4 of 6 rounds"; empty when unknown).
struct MatchSummary {
    std::string bracket;
    std::string arena;
    std::string outcome;
};

// From the facts of the subtitles: the winning team is the player's own only when the player's team is
// known; a shuffle's rounds have no one winner.
MatchSummary matchSummary(const std::map<std::string, std::string, std::less<>>& facts);
// From the match record, which knows a shuffle's rounds.
MatchSummary matchSummary(const tavrin::MatchRecord& record);

// The reason a recording did not begin or ended early (`result.problem`), in one sentence a player
// understands.
std::string problemSentence(const RecordingResult& result);

// What the player is told of a recording: a match recorded (its bracket, arena and result as far as
// `match` knows them, its length), or why a recording failed and where a file remains. Nothing for a
// recording started and stopped by hand that went well.
std::optional<RecordingNotice> describeRecording(const RecordingResult& result, bool byHand,
                                                 const MatchSummary& match);

// describeRecording with the match record beside the movie ("<match>.json"), else the facts of its
// subtitles ("<match>.srt"), when there are any. Any thread; reads one or two small files.
std::optional<RecordingNotice> describeRecording(const RecordingResult& result, bool byHand);

// The movie just recorded alone takes more than the storage limit of `limit` bytes, and is kept.
RecordingNotice limitNotice(const std::string& movie, std::uint64_t limit);

}  // namespace vidora
