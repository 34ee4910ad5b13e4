// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/DateTime.h"

namespace vidora {

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
};

}  // namespace vidora
