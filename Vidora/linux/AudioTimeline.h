// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

#include "capture/Samples.h"

namespace vidora {

// Stamps consecutive chunks of one audio stream. Each chunk starts where the previous one ended, nudged
// toward the measured capture time by a thirty-second of the difference but never faster than 2000 ppm,
// so that the sound card's clock cannot drift from the steady clock while a server's passing
// misjudgements (PulseAudio's monitors measure wrongly while they catch up on sound held back) leave the
// sound whole. A gap in the stream (the measurement leaps ahead of the sound that came since the last
// chunk) or a measurement a second away starts the timeline over. Stamps strictly increase. One thread
// at a time.
class AudioTimeline {
public:
    static constexpr MediaTime restartAfter = std::chrono::milliseconds(100);
    static constexpr MediaTime giveUpAfter = std::chrono::seconds(1);
    static constexpr int nudgeDivisor = 32;
    static constexpr int slowestFollow = 500;  // a nudge is at most the chunk's length divided by this

    // The start of a chunk of `duration` whose start was measured at `measured`.
    MediaTime stamp(MediaTime measured, MediaTime duration) {
        MediaTime start = measured;
        if (next_) {
            const MediaTime error = measured - *next_;
            const MediaTime leap = measured - *lastMeasured_ - lastDuration_;
            if (leap < restartAfter && error < giveUpAfter && error > -giveUpAfter) {
                const MediaTime most = duration / slowestFollow;
                start = *next_ + std::clamp<MediaTime>(error / nudgeDivisor, -most, most);
            }
        }
        if (last_ && start <= *last_) {
            start = *last_ + MediaTime(1);
        }
        last_ = start;
        next_ = start + duration;
        lastMeasured_ = measured;
        lastDuration_ = duration;
        return start;
    }

private:
    std::optional<MediaTime> next_;
    std::optional<MediaTime> last_;
    std::optional<MediaTime> lastMeasured_;
    MediaTime lastDuration_{};
};

}  // namespace vidora
