// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>

#include "writer/FramePacer.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;

constexpr MediaTime interval = 33'333'333ns;

// Offers `seconds` of frames captured at 30 fps (from `from`, each a little early or late) to an encoder
// that takes `cost` per kept frame; how many it keeps, and the longest run of frames dropped in a row.
std::pair<int, int> capture(FramePacer& pacer, MediaTime from, int seconds, MediaTime cost) {
    int keptFrames = 0;
    int dropped = 0;
    int longestDrop = 0;
    for (int n = 0; n < 30 * seconds; ++n) {
        const MediaTime time = from + n * interval + (n % 2 ? 3ms : -3ms);
        // The capture skips the grab of a frame wants() refuses: it must foretell keep().
        const bool wanted = pacer.wants(time);
        const bool kept = pacer.keep(time);
        EXPECT_EQ(wanted, kept) << "frame at " << time.count() << " ns";
        if (kept) {
            pacer.encoded(cost);
            ++keptFrames;
            dropped = 0;
        } else {
            longestDrop = std::max(longestDrop, ++dropped);
        }
    }
    return {keptFrames, longestDrop};
}

TEST(FramePacerTest, KeepsEveryFrameWhileTheEncoderKeepsUpAndDropsEvenlyWhenItCannot) {
    FramePacer pacer(30);
    EXPECT_EQ(capture(pacer, 0s, 2, 20ms), std::pair(60, 0));
    // 50 ms a frame: a little under its 20 frames a second, never two dropped in a row once settled.
    capture(pacer, 2s, 4, 50ms);
    const auto [kept, longestDrop] = capture(pacer, 6s, 4, 50ms);
    EXPECT_GE(kept, 4 * 18);
    EXPECT_LE(kept, 4 * 20);
    EXPECT_EQ(longestDrop, 1);
    // Fast again, and after a pause in the capture: every frame once the encoder's pace is known.
    capture(pacer, 10s, 1, 10ms);
    EXPECT_EQ(capture(pacer, 20s, 2, 10ms), std::pair(60, 0));
}

}  // namespace
}  // namespace vidora
