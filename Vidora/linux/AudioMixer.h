// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>

#include "capture/Samples.h"

namespace vidora {

// Sums several streams of interleaved 16-bit sound onto one track: frame n of the track lies at n /
// sampleRate seconds of the media clock, so a sample lands where its stamp says and the picture stays in
// step. A stream's chunks follow one another edge to edge, as long as a stamp lies within a millisecond
// of where the stream's last chunk ended (the rounding of stamps to frames); a chunk farther away starts
// the stream over at its stamp. Sound for a time already taken is dropped, sound more than ten seconds
// ahead too. One thread at a time.
class AudioMixer {
public:
    AudioMixer(int sampleRate, int channels, MediaTime start);

    // A chunk of `stream` whose first frame was captured at `start`.
    void add(std::uint32_t stream, MediaTime start, std::span<const std::int16_t> samples);
    // Forgets where the stream's last chunk ended.
    void remove(std::uint32_t stream) { ends_.erase(stream); }
    // The track from the end of the last take (ten seconds before `end` at most) up to `end`, silent
    // where no stream played, clipped to 16 bits; nothing when `end` is not later.
    std::optional<AudioBuffer> take(MediaTime end);

private:
    std::int64_t frameAt(MediaTime time) const;
    MediaTime timeOf(std::int64_t frame) const;

    int sampleRate_;
    int channels_;
    std::int64_t taken_;                          // the first frame not taken yet
    std::deque<std::int32_t> pending_;            // sums from taken_ on, interleaved
    std::map<std::uint32_t, std::int64_t> ends_;  // the frame after each stream's last chunk
};

}  // namespace vidora
