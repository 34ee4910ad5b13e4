// SPDX-License-Identifier: GPL-3.0-or-later
// The sound of several streams on the movie's timeline: each stream's chunks stamped, then mixed.
#include <gtest/gtest.h>

#include "linux/AudioMixer.h"
#include "linux/AudioTimeline.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using Samples = std::vector<std::int16_t>;

// A track of 1000 frames a second: a frame a millisecond.
TEST(AudioMixerTest, PlacesEachStreamWhereItsStampsSayKeepsItWholeAndSumsTheRestIntoSilence) {
    const MediaTime start = 10s;
    AudioMixer mixer(1000, 1, start);
    const Samples soft{1, 2, 3, 4}, loud(4, 32765);
    mixer.add(1, start + 2ms, soft);
    mixer.add(2, start + 4ms, loud);  // overlaps: summed, clipped to 16 bits
    mixer.add(1, start + 7ms, soft);  // a frame from where the stream got to: goes on edge to edge
    const auto first = mixer.take(start + 10ms).value();
    EXPECT_EQ(first.presentationTime, start);
    EXPECT_EQ(first.samples, (Samples{0, 0, 1, 2, 32767, 32767, 32766, 32767, 3, 4}));

    mixer.add(2, start + 8ms, loud);   // partly taken already: only what is still to come counts
    mixer.add(1, start + 20ms, soft);  // far from where the stream got to: starts over at its stamp
    const auto second = mixer.take(start + 22ms).value();
    EXPECT_EQ(second.presentationTime, start + 10ms);
    EXPECT_EQ(second.samples, (Samples{32765, 32765, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2}));
    EXPECT_FALSE(mixer.take(start + 22ms));

    // Days of uptime at 48 kHz: the frame arithmetic does not overflow.
    const MediaTime uptime = std::chrono::hours(24 * 30);
    const auto silence = AudioMixer(48000, 1, uptime).take(uptime + 1ms).value();
    EXPECT_EQ(silence.presentationTime, uptime);
    EXPECT_EQ(silence.samples, Samples(48, 0));
}

TEST(AudioTimelineTest, KeepsChunksEdgeToEdgeFollowsDriftSlowlyAndRestartsAfterAGap) {
    AudioTimeline timeline;
    const MediaTime chunk = 20ms;
    EXPECT_EQ(timeline.stamp(1000ms, chunk), 1000ms);
    // Jitter in the measurement leaves the chunks edge to edge, nudged by a thirty-second of it.
    MediaTime start = timeline.stamp(1021ms, chunk);
    EXPECT_EQ(start, 1020ms + MediaTime(1ms) / 32);
    // A measurement running ahead of the sound a little more with each chunk (a monitor catching up on
    // sound its server held back) moves the chunks by 2000 ppm at most, however far it gets.
    MediaTime measured = 1021ms;
    for (int chunks = 0; chunks < 20; ++chunks, start += chunk + chunk / 500) {
        EXPECT_EQ(timeline.stamp(measured += chunk + 10ms, chunk), start + chunk + chunk / 500) << chunks;
    }
    // A gap in the stream: the measurement leaps ahead, and the timeline starts over at it.
    measured += chunk + 150ms;
    EXPECT_EQ(timeline.stamp(measured, chunk), measured);
    // A measurement a second off starts it over too, but stamps still increase.
    EXPECT_EQ(timeline.stamp(measured - 2s, chunk), measured + 1ns);
}

}  // namespace
}  // namespace vidora
