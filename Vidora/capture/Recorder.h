// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/DateTime.h"

namespace vidora {

// Why a recording did not begin, or ended before it was asked to.
enum class RecordingProblem {
    noWindow,       // the chosen application has no window to record
    shareRefused,   // the desktop refused to share the screen, or cannot share one
    noPicture,      // no picture came from the screen or window
    sourceEnded,    // the screen or window being recorded went away, or the desktop ended the share
    diskFull,       // the disk holding the movies is full
    cannotWrite,    // the movie could not be written otherwise
    encoderFailed,  // no video encoder opened, or one failed while recording
    folderMissing,  // the movies folder the player chose is not there (its drive not mounted)
    noRoom,         // less than 1 GB free on the movies folder's disk, even after keeping the limit
};

// How a recording ended.
struct RecordingResult {
    // The movie: the finished one when a file remains, else the path it was to have.
    std::string movie;
    bool fileKept = false;
    // From the first frame to the end.
    double seconds = 0;
    std::optional<RecordingProblem> problem;
    // What was to be recorded, for the player ("World of Warcraft"); may be empty.
    std::string target;
};

// What the recording controller asks of the recorder. setup and stop come from the main thread,
// start from the controller's background task; the recorder orders them itself.
class Recorder {
public:
    virtual ~Recorder() = default;
    // Chooses the target of the next start; false when it cannot be recorded now.
    virtual bool setup(std::int64_t displayId) = 0;
    virtual bool setup(std::string_view bundleIdentifier) = 0;
    virtual void start(const std::string& path, bool microphone) = 0;
    // The movie is finished and renamed when this returns; nothing while not recording.
    virtual void stop() = 0;
    // Takes effect with the next microphone buffer.
    virtual void setMicState(bool on) = 0;
    // Wall-clock time of the movie's first frame, nothing before it.
    virtual std::optional<tavrin::Date> startTime() const = 0;
    // A movie is being written; false again once it ended, also on its own (a failed stream or disk).
    virtual bool isRecording() const = 0;
    // How the last recording ended, once: nothing again until another one ends. Any thread.
    virtual std::optional<RecordingResult> takeResult() = 0;
};

}  // namespace vidora
