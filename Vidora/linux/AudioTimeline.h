// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <optional>

#include "capture/Samples.h"

namespace vidora {

// Stamps consecutive chunks of one audio stream. Each chunk starts where the previous one ended,
// nudged a little toward the measured capture time so that the sound card's clock cannot drift from
// the steady clock, and a measurement far off (a gap in the stream) starts the timeline over. Stamps
// strictly increase. One thread at a time.
class AudioTimeline {
public:
    static constexpr MediaTime restartAfter = std::chrono::milliseconds(100);
    static constexpr int nudgeDivisor = 32;

    // The start of a chunk of `duration` whose start was measured at `measured`.
    MediaTime stamp(MediaTime measured, MediaTime duration) {
        MediaTime start = measured;
        if (next_) {
            const MediaTime error = measured - *next_;
            if (error < restartAfter && error > -restartAfter) {
                start = *next_ + error / nudgeDivisor;
            }
        }
        if (last_ && start <= *last_) {
            start = *last_ + MediaTime(1);
        }
        last_ = start;
        next_ = start + duration;
        return start;
    }
    void reset() {
        next_.reset();
        last_.reset();
    }

private:
    std::optional<MediaTime> next_;
    std::optional<MediaTime> last_;
};

}  // namespace vidora
