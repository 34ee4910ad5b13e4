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
// sound whole. Measurements that have stayed more than 15 ms away (smoothed) for 300 ms of sound are
// followed faster, by 1 % at most, which the mixer absorbs without a seam: a new monitor's first
// measurements can be that far off for good (PipeWire's), while PulseAudio's misjudgements pass. A gap in
// the stream (the measurement leaps ahead of the sound that came since the last chunk) or a measurement a
// second away starts the timeline over at the measurement. Stamps increase: after a leap back, the sound
// that would lie on time already stamped is dropped, not stacked onto it, until the timeline has passed
// the end of what was stamped. One thread at a time.
class AudioTimeline {
public:
    static constexpr MediaTime restartAfter = std::chrono::milliseconds(100);
    static constexpr MediaTime giveUpAfter = std::chrono::seconds(1);
    static constexpr int nudgeDivisor = 32;
    static constexpr int slowestFollow = 500;  // a nudge is at most the chunk's length divided by this
    static constexpr int fastestFollow = 100;  // or by this once the measurements have drifted away
    static constexpr MediaTime driftLimit = std::chrono::milliseconds(15);
    static constexpr MediaTime driftPatience = std::chrono::milliseconds(300);
    static constexpr int smoothing = 16;  // the smoothed error moves by this part of each new difference

    struct Stamp {
        MediaTime start;    // of the part of the chunk that is kept
        MediaTime dropped;  // the chunk's first part, which lies on time already stamped; may be all of it
    };

    // The stamp of a chunk of `duration` whose start was measured at `measured`.
    Stamp stamp(MediaTime measured, MediaTime duration) {
        MediaTime start = measured;
        if (next_) {
            const MediaTime error = measured - *next_;
            const MediaTime leap = measured - *lastMeasured_ - lastDuration_;
            smoothedError_ += (error - smoothedError_) / smoothing;
            drifted_ = std::chrono::abs(smoothedError_) > driftLimit ? drifted_ + duration : MediaTime(0);
            if (leap < restartAfter && error < giveUpAfter && error > -giveUpAfter) {
                const MediaTime most = duration / (drifted_ < driftPatience ? slowestFollow : fastestFollow);
                start = *next_ + std::clamp<MediaTime>(error / nudgeDivisor, -most, most);
            } else {
                if (measured < *next_) {
                    stampedUntil_ = std::max(stampedUntil_.value_or(*next_), *next_);
                }
                smoothedError_ = drifted_ = MediaTime(0);
            }
        }
        next_ = start + duration;
        lastMeasured_ = measured;
        lastDuration_ = duration;
        MediaTime dropped{};
        if (stampedUntil_) {
            dropped = std::clamp<MediaTime>(*stampedUntil_ - start, MediaTime(0), duration);
            if (*next_ > *stampedUntil_) {
                stampedUntil_.reset();
            }
        }
        return {start + dropped, dropped};
    }

private:
    std::optional<MediaTime> next_;  // where the timeline puts the next chunk, before its nudge
    std::optional<MediaTime> lastMeasured_;
    MediaTime lastDuration_{};
    std::optional<MediaTime> stampedUntil_;  // after a leap back: the end of what was stamped before it
    MediaTime smoothedError_{};              // of the measurements against the timeline
    MediaTime drifted_{};                    // the sound since the smoothed error went past driftLimit
};

}  // namespace vidora
