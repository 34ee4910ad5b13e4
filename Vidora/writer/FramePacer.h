#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "capture/Samples.h"

namespace vidora {

// Spreads the frames an encoder cannot keep up with evenly over time: frames are kept at the rate the
// encoder sustains (its recent time per frame, measured on its thread), where a full queue alone would
// keep them in bursts. While the encoder keeps up, every frame is kept.
class FramePacer {
public:
    explicit FramePacer(int frameRate) : interval_(MediaTime(1'000'000'000 / frameRate)) {}

    // Whether the frame captured at `time` is to be encoded; the thread that appends frames.
    bool keep(MediaTime time);
    // One frame took `cost` to encode; the encoding thread.
    void encoded(MediaTime cost);

private:
    const MediaTime interval_;
    std::atomic<std::int64_t> cost_{0};  // nanoseconds per frame, a moving average
    std::optional<MediaTime> due_;
};

}  // namespace vidora
