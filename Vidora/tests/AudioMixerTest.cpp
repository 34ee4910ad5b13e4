// SPDX-License-Identifier: GPL-3.0-or-later
// The sound of several streams on the movie's timeline: each stream's chunks stamped, then mixed.
#include <gtest/gtest.h>
#include <pulse/def.h>

#include <cmath>
#include <numbers>

#include "linux/AudioMixer.h"
#include "linux/AudioTimeline.h"
#include "linux/PulseAudioSource.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using Samples = std::vector<std::int16_t>;

// A track of 1000 frames a second: a frame a millisecond. A chunk lies a frame late: its first frame is
// interpolated from the stream's last one, which it repeats on a start.
TEST(AudioMixerTest, PlacesEachStreamWhereItsStampsSayKeepsItWholeAndSumsTheRestIntoSilence) {
    const MediaTime start = 10s;
    AudioMixer mixer(1000, 1, start);
    const Samples soft{1, 2, 3, 4}, loud(4, 32765);
    mixer.add(1, start + 2ms, soft);
    mixer.add(2, start + 4ms, loud);  // overlaps: summed, clipped to 16 bits
    mixer.add(1, start + 6ms, soft);  // where the stream got to: goes on from its last frame
    const auto first = mixer.take(start + 10ms).value();
    EXPECT_EQ(first.presentationTime, start);
    EXPECT_EQ(first.samples, (Samples{0, 0, 1, 1, 32767, 32767, 32767, 32766, 2, 3}));

    mixer.add(2, start + 8ms, loud);   // partly taken already: only what is still to come counts
    mixer.add(1, start + 20ms, soft);  // far from where the stream got to: starts over at its stamp
    const auto second = mixer.take(start + 22ms).value();
    EXPECT_EQ(second.presentationTime, start + 10ms);
    EXPECT_EQ(second.samples, (Samples{32765, 32765, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1}));
    EXPECT_FALSE(mixer.take(start + 22ms));

    // Days of uptime at 48 kHz: the frame arithmetic does not overflow.
    const MediaTime uptime = std::chrono::hours(24 * 30);
    const auto silence = AudioMixer(48000, 1, uptime).take(uptime + 1ms).value();
    EXPECT_EQ(silence.presentationTime, uptime);
    EXPECT_EQ(silence.samples, Samples(48, 0));
}

// A sound card 500 ppm fast against the steady clock, measured with up to 2 ms of jitter: for a minute the
// timeline corrects the stamps, and the mix lays a pure tone without a seam. A seam is a step from one
// sample to the next steeper than the tone's own steepest (a millisecond's jump is thirty times that).
TEST(AudioMixerTest, AbsorbsTheTimelinesDriftCorrectionsWithoutASeam) {
    constexpr int rate = 16000, chunk = 320;  // 20 ms
    constexpr double amplitude = 8000, frequency = 440, fast = 1.0005;
    const MediaTime begin = 100s;
    AudioTimeline timeline;
    AudioMixer mixer(rate, 1, begin);
    Samples track, samples(chunk);
    for (std::int64_t index = 0; index < 60 * rate / chunk; ++index) {
        for (int frame = 0; frame < chunk; ++frame) {
            const double phase = 2 * std::numbers::pi * frequency * double(index * chunk + frame) / rate;
            samples[frame] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(phase)));
        }
        const MediaTime measured = begin +
                                   MediaTime(index * chunk * 1'000'000'000 / std::llround(rate * fast)) +
                                   std::chrono::microseconds(index * 7919 % 41 * 100 - 2000);
        const auto stamp = timeline.stamp(measured, MediaTime(chunk * 1'000'000'000LL / rate));
        mixer.add(1, stamp.start, samples);
        if (const auto mixed = mixer.take(measured - 100ms)) {
            track.insert(track.end(), mixed->samples.begin(), mixed->samples.end());
        }
    }
    ASSERT_GT(track.size(), 59u * rate);
    const double steepest = amplitude * 2 * std::numbers::pi * frequency / rate;
    int seams = 0;
    for (std::size_t at = rate / 10; at + 1 < track.size(); ++at) {
        seams += std::abs(track[at + 1] - track[at]) > steepest * 1.2 + 2;
    }
    EXPECT_EQ(seams, 0);
}

TEST(AudioTimelineTest, KeepsChunksEdgeToEdgeFollowsDriftSlowlyAndRestartsAfterAGap) {
    AudioTimeline timeline;
    const MediaTime chunk = 20ms;
    const auto startOf = [&](MediaTime measured) { return timeline.stamp(measured, chunk).start; };
    EXPECT_EQ(startOf(1000ms), 1000ms);
    // Jitter in the measurement leaves the chunks edge to edge, nudged by a thirty-second of it.
    MediaTime start = startOf(1021ms);
    EXPECT_EQ(start, 1020ms + MediaTime(1ms) / 32);
    // A measurement running ahead of the sound a little more with each chunk (a monitor catching up on
    // sound its server held back) moves the chunks by 2000 ppm at most, however far it gets.
    MediaTime measured = 1021ms;
    for (int chunks = 0; chunks < 20; ++chunks, start += chunk + chunk / 500) {
        EXPECT_EQ(startOf(measured += chunk + 10ms), start + chunk + chunk / 500) << chunks;
    }
    // A gap in the stream: the measurement leaps ahead, and the timeline starts over at it.
    measured += chunk + 150ms;
    EXPECT_EQ(startOf(measured), measured);
    // A measurement 1.5 s back (the server holds more sound back than it did): the timeline starts over
    // at it, the sound for time already stamped is dropped, and the chunks lie where they were measured.
    const MediaTime stamped = measured + chunk;
    MediaTime back = measured - 1500ms + 5ms;
    for (; back + chunk <= stamped; back += chunk) {
        EXPECT_EQ(timeline.stamp(back, chunk).dropped, chunk);
    }
    const auto straddling = timeline.stamp(back, chunk);
    EXPECT_EQ(straddling.start, stamped);
    EXPECT_EQ(straddling.dropped, stamped - back);
    for (int chunks = 1; chunks < 4; ++chunks) {
        const auto following = timeline.stamp(back + chunks * chunk, chunk);
        EXPECT_EQ(following.start, back + chunks * chunk);
        EXPECT_EQ(following.dropped, 0ns);
    }
    // Measurements that stay 30 ms ahead (a monitor opened anew that measures off for good) are followed
    // by 1 % once 300 ms of sound lay more than 15 ms from them, smoothed: by 2000 ppm alone, 26 ms remain.
    measured = back + 3 * chunk + 30ms;
    MediaTime ahead;
    for (int chunks = 0; chunks < 100; ++chunks) {
        measured += chunk;
        ahead = measured - startOf(measured);
    }
    EXPECT_LT(ahead, 20ms);
}

// A monitor that fails once it delivered, or for a stream that is gone, is looked up again; one that
// failed otherwise is tried again later; only a refusal of single-stream monitors records everything.
TEST(PulseAudioSourceTest, RecordsTheWholeSystemOnlyWhenSingleStreamsAreRefused) {
    using enum PulseAudioSource::MonitorFailure;
    const std::tuple<int, bool, PulseAudioSource::MonitorFailure> cases[] = {
        {PA_ERR_KILLED, true, lookAgain},
        {PA_ERR_NOENTITY, false, lookAgain},
        {PA_ERR_INVALID, false, retryLater},
        {PA_ERR_BADSTATE, false, retryLater},
        {PA_ERR_TIMEOUT, false, retryLater},
        {PA_ERR_NOTSUPPORTED, false, wholeSystem},
        {PA_ERR_NOTIMPLEMENTED, false, wholeSystem},
    };
    for (const auto& [error, started, expected] : cases) {
        EXPECT_EQ(PulseAudioSource::afterMonitorFailure(error, started), expected) << error << started;
    }
}

}  // namespace
}  // namespace vidora
