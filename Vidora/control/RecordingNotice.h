// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "capture/Recorder.h"

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

// The reason a recording did not begin or ended early (`result.problem`), in one sentence a player
// understands.
std::string problemSentence(const RecordingResult& result);

// What the player is told of a recording: a match recorded (its bracket and arena from `facts`, the
// result when known, its length), or why a recording failed and where a file remains. Nothing for a
// recording started and stopped by hand that went well.
std::optional<RecordingNotice> describeRecording(
    const RecordingResult& result, bool byHand, const std::map<std::string, std::string, std::less<>>& facts);

// describeRecording with the facts of the subtitles beside the movie ("<match>.srt"), when there are any.
// Any thread; reads one small file.
std::optional<RecordingNotice> describeRecording(const RecordingResult& result, bool byHand);

// The movie just recorded alone takes more than the storage limit of `limit` bytes, and is kept.
RecordingNotice limitNotice(const std::string& movie, std::uint64_t limit);

}  // namespace vidora
