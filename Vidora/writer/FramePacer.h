// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>

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
    // Whether a frame captured at `time` would be kept, counting nothing: a capture may then skip the
    // grab of a frame that would only be dropped. Any thread.
    bool wants(MediaTime time) const;
    // One frame took `cost` to encode; the encoding thread.
    void encoded(MediaTime cost);

private:
    const MediaTime interval_;
    std::atomic<std::int64_t> cost_{0};               // nanoseconds per frame, a moving average
    static constexpr std::int64_t noDue = INT64_MIN;  // the first frame is still to come
    std::atomic<std::int64_t> due_{noDue};            // nanoseconds; written by keep() only
};

}  // namespace vidora
