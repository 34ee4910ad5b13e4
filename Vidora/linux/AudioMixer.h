// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "capture/Samples.h"

namespace vidora {

// Sums several streams of interleaved 16-bit sound onto one track: frame n of the track lies at n /
// sampleRate seconds of the media clock, so a sample lands where its stamp says and the picture stays in
// step. A stream's chunks follow one another without a seam, as long as a stamp lies within a millisecond
// of where the stream's last chunk ended: each chunk is laid, by linear interpolation from the stream's
// last sample, from there to where its stamp says it ends, stretched or squeezed by 1 % at most, so that
// the timeline's drift corrections never click (the sound lies a sample late, and the last sample before
// a break is lost). A chunk farther away starts the stream over at its stamp. Sound for a time already
// taken is dropped, sound more than ten seconds ahead too. One thread at a time.
class AudioMixer {
public:
    AudioMixer(int sampleRate, int channels, MediaTime start);

    // A chunk of `stream` whose first frame was captured at `start`.
    void add(std::uint32_t stream, MediaTime start, std::span<const std::int16_t> samples);
    // Forgets where the stream's last chunk ended.
    void remove(std::uint32_t stream) { streams_.erase(stream); }
    // The track from the end of the last take (ten seconds before `end` at most) up to `end`, silent
    // where no stream played, clipped to 16 bits; nothing when `end` is not later.
    std::optional<AudioBuffer> take(MediaTime end);

private:
    struct Stream {
        MediaTime end;                   // where its last chunk ended
        std::vector<std::int16_t> last;  // its last frame, which the next chunk is interpolated from
    };

    // The frame nearest to `time`, or with `atOrAfter` the first frame at or after it.
    std::int64_t frameAt(MediaTime time, bool atOrAfter = false) const;
    MediaTime timeOf(std::int64_t frame) const;

    int sampleRate_;
    int channels_;
    std::int64_t taken_;                // the first frame not taken yet
    std::deque<std::int32_t> pending_;  // sums from taken_ on, interleaved
    std::map<std::uint32_t, Stream> streams_;
};

}  // namespace vidora
